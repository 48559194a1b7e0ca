#include "transport/CPacket_PKCS10_Client_Base.h"

#include "core/DateTime.h"
#include "crypto/CspAlgorithms.h"

CPacket_PKCS10_Client_Base::CPacket_PKCS10_Client_Base() {
    setPackageType(tesel::PT_PKCS10);
    SYSTEMTIME now{};
    GetLocalTime(&now);
    setCreationTime(now);
}

std::string CPacket_PKCS10_Client_Base::createContainerName() const {
    return ::createContainerName(m_csp, m_client.getSurname(), m_client.getINN(), getCreationTime());
}

std::string createContainerName(qn::crypto::eSupportCP kind, std::string surname, std::string inn,
                                SYSTEMTIME time) {
    std::string name;
    // Token containers are named without the surname.
    if (qn::crypto::getSupportCryptoInterface(kind) == 1) name = surname + "_";
    name += inn;
    name += "_" + tesel::timeToStr(time, tesel::DATE_FILE_NAME);
    return name;
}
