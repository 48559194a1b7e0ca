#include "server/dispatch/processPacket.h"

#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <utility>

#include "server/CWebPacket.h"
#include "server/eCommand.h"
#include "webpackets/BuildPartnerCardWebPacket.h"
#include "webpackets/CAuthWebPacket.h"
#include "webpackets/CCertListWebPacket.h"
#include "webpackets/CCreatePartnerCardWebPacket.h"
#include "webpackets/CDecryptClientCertWebPacket.h"
#include "webpackets/CDecryptPacketInWebPacket.h"
#include "webpackets/CDecryptRawQnCardWebPacket.h"
#include "webpackets/CDecryptVerifyWebPacket.h"
#include "webpackets/CEncryptSignWebPacket.h"
#include "webpackets/CEgrulInfoWebPacket.h"
#include "webpackets/CGetClientCardByConvertQnWebPacket.h"
#include "webpackets/CGetCurrentCSPWebPacket.h"
#include "webpackets/CGetErrorListWebPacket.h"
#include "webpackets/CLoadAuthCertInfoWebPacket.h"
#include "webpackets/CLoadReleasedCertToContainerQnWebPacket.h"
#include "webpackets/CLoadReleasedCertToContainerWebPacket.h"
#include "webpackets/CProlongKeyRegisterWebPacket.h"
#include "webpackets/CProlongKeyWebPacket.h"
#include "webpackets/CReleasedCertWebPacket.h"
#include "webpackets/CSaveClientCardWebPacket.h"
#include "webpackets/CSendP10ClientRequestWebPacket.h"
#include "webpackets/CSetCertStoreWebPacket.h"
#include "webpackets/CSetClientInfoWebPacket.h"
#include "webpackets/CSetConvertPinWebPacket.h"
#include "webpackets/CSetDocAttachmentWebPacket.h"
#include "webpackets/CSetEnhOidWebPacket.h"
#include "webpackets/CSetQnCACertWebPacket.h"
#include "webpackets/CSetRequestedCSPWebPacket.h"
#include "webpackets/CSetRootCALkCertsWebPacket.h"
#include "webpackets/CSignPacketWebPacket.h"
#include "webpackets/CUploadCertToContainerWebPacket.h"
#include "webpackets/CVedevaRegAbonentWebPacket.h"

namespace {

using Factory = std::unique_ptr<CWebPacket> (*)(tesel::CBlob&& payload);

struct CommandEntry {
    eCommand request;
    bool takesPayload;  // whether the request payload is handed to the command
    Factory create;     // null while the command is not available: treated as unknown
};

constexpr bool kPayload = true;
constexpr bool kNoPayload = false;

template <class Command>
constexpr CommandEntry withPayload(eCommand request) {
    return {request, kPayload, [](tesel::CBlob&& payload) -> std::unique_ptr<CWebPacket> {
                return std::make_unique<Command>(std::move(payload));
            }};
}

// Whatever payload the page sends with such a command is dropped.
template <class Command>
constexpr CommandEntry withoutPayload(eCommand request) {
    return {request, kNoPayload, [](tesel::CBlob&&) -> std::unique_ptr<CWebPacket> {
                return std::make_unique<Command>();
            }};
}

constexpr CommandEntry unavailable(eCommand request, bool takesPayload) {
    return {request, takesPayload, nullptr};
}

// Every request code the page may send. Making a command available is one
// line: withPayload<Class> or withoutPayload<Class> in place of unavailable.
constexpr CommandEntry kCommands[] = {
    withPayload<CSetRootCALkCertsWebPacket>(SET_ROOT_CA_LK_CERTS),
    withoutPayload<CGetErrorListWebPacket>(GET_ERROR_LIST),
    withPayload<CSetCertStoreWebPacket>(SET_CERT_STORE),
    withoutPayload<CCertListWebPacket>(CERT_LIST),
    withPayload<CAuthWebPacket>(AUTH),
    withoutPayload<CProlongKeyWebPacket>(PROLONG_KEY),
    withoutPayload<CProlongKeyRegisterWebPacket>(PROLONG_KEY_REGISTER),
    withPayload<CLoadReleasedCertToContainerWebPacket>(LOAD_RELEASED_CERT_TO_CONTAINER),
    withPayload<CSetClientInfoWebPacket>(SET_CLIENT_INFO),
    withPayload<CSetDocAttachmentWebPacket>(SET_DOC_ATTACHMENT),
    withPayload<CReleasedCertWebPacket>(RELEASED_CERT),
    withoutPayload<CSaveClientCardWebPacket>(SAVE_CLIENT_CARD),
    withoutPayload<CLoadAuthCertInfoWebPacket>(LOAD_AUTH_CERT_INFO),
    withPayload<CEgrulInfoWebPacket>(EGRUL_INFO),
    withoutPayload<CGetCurrentCSPWebPacket>(GET_CURRENT_CSP),
    withPayload<CSetRequestedCSPWebPacket>(SET_REQUESTED_CSP),
    withPayload<CSetEnhOidWebPacket>(SET_ENH_OID),
    withPayload<CDecryptRawQnCardWebPacket>(DECRYPT_RAW_QN_CARD),
    withPayload<CDecryptClientCertWebPacket>(DECRYPT_CLIENT_CERT),
    withPayload<CDecryptPacketInWebPacket>(DECRYPT_PACKET_IN),
    withPayload<CEncryptSignWebPacket>(ENCRYPT_SIGN),
    withPayload<CDecryptVerifyWebPacket>(DECRYPT_VERIFY),
    withPayload<CSignPacketWebPacket>(SIGN_PACKET),
    withPayload<CGetClientCardByConvertQnWebPacket>(GET_CLIENT_CARD_BY_CONVERT_QN),
    withPayload<CSendP10ClientRequestWebPacket>(SEND_P10_CLIENT_REQUEST),
    withPayload<CSetConvertPinWebPacket>(SET_CONVERT_PIN),
    withPayload<CLoadReleasedCertToContainerQnWebPacket>(LOAD_RELEASED_CERT_TO_CONTAINER_QN),
    withPayload<BuildPartnerCardWebPacket>(BUILD_PARTNER_CARD),
    withPayload<CCreatePartnerCardWebPacket>(CREATE_PARTNER_CARD),
    withPayload<CVedevaRegAbonentWebPacket>(VEDEVA_REG_ABONENT),
    withPayload<CSetQnCACertWebPacket>(SET_QN_CA_CERT),
    withPayload<CUploadCertToContainerWebPacket>(UPLOAD_CERT_TO_CONTAINER),
};
static_assert(std::size(kCommands) == 32, "one entry per request code");

const CommandEntry* findCommand(unsigned code) {
    for (const CommandEntry& entry : kCommands) {
        if (static_cast<unsigned>(entry.request) == code) return entry.create ? &entry : nullptr;
    }
    return nullptr;
}

}  // namespace

int processPacket(tesel::CBlob& request, tesel::CBlob& reply) {
    std::string uid;
    unsigned format = 0;
    unsigned code = 0;
    request.deserialize(&uid);
    request.deserialize(format);
    request.deserialize(code);
    if (request.isMalformed()) return 0;

    const CommandEntry* entry = findCommand(code);
    if (entry == nullptr) return 0;

    // The message's own buffer becomes the payload, read from behind the
    // envelope: a payload of megabytes is not copied.
    const unsigned payloadStart = request.getOffset();
    tesel::CBlob payload;
    if (entry->takesPayload) payload = std::move(request);
    std::unique_ptr<CWebPacket> command = entry->create(std::move(payload));
    if (entry->takesPayload) command->startPayloadAt(payloadStart);
    command->setUid(std::move(uid));
    return command->process(reply);
}

bool answeredAtOnce(const tesel::CBlob& request) {
    const unsigned char* data = request.getData();
    const std::size_t size = request.getSize();
    std::size_t at = request.getOffset();
    auto readU32 = [&](std::uint32_t& value) {
        if (at > size || size - at < 4) return false;
        value = static_cast<std::uint32_t>(data[at]) | static_cast<std::uint32_t>(data[at + 1]) << 8 |
                static_cast<std::uint32_t>(data[at + 2]) << 16 | static_cast<std::uint32_t>(data[at + 3]) << 24;
        at += 4;
        return true;
    };
    std::uint32_t uidLength = 0, format = 0, code = 0;
    if (!readU32(uidLength) || uidLength > size - at) return true;
    at += uidLength;
    if (!readU32(format) || !readU32(code)) return true;
    if (findCommand(code) == nullptr) return true;
    return code == GET_ERROR_LIST || code == GET_CURRENT_CSP;
}
