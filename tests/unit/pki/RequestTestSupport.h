// Shared pieces of the request tests: client cards of each subject type,
// hex helpers and a synthetic public key blob.
#pragma once

#include <string>
#include <vector>

#include "client/CClient.h"
#include "core/CBlob.h"
#include "core/TextConvert.h"
#include "helpers/Hex.h"

namespace reqtest {

using Bytes = std::vector<unsigned char>;

inline std::string hex(const unsigned char* p, std::size_t n) { return test_hex::toHex(p, n); }

inline std::string hex(const tesel::CBlob& b) { return hex(b.getData(), b.getSize()); }

using test_hex::fromHex;

// CP1251 text from UTF-8 source text.
inline std::string ansi(const char* utf8) { return tesel::convertFromUTF8(utf8); }

// A complete card; type 0 legal entity, 1 natural person, 2 individual
// entrepreneur. The OGRN field holds the OGRNIP for type 2.
inline tesel::CClient makeCard(int type, int certTemplate) {
    tesel::CClient c;
    c.setClientType(static_cast<tesel::eTypeSubject>(type));
    c.setTemplateCertId(static_cast<tesel::eCertTemplate>(certTemplate));
    c.setEmail("ivanov@example.ru");
    c.setPosition(ansi("Генеральный директор"));
    c.setCompanyName(ansi("ООО \"Ромашка\""));
    c.setSNILS("50321496744");
    c.setOGRN(type == 2 ? "304503214967012" : "1025032149670");
    c.setINN(type == 0 ? "5032149676" : "503214967066");
    c.setKPP("503201001");
    c.setSurname(ansi("Иванов"));
    c.setName(ansi("Иван"));
    c.setPatronymic(ansi("Иванович"));
    c.getAddress().setStreet(ansi("ул. Ленина"));
    c.getAddress().setHouse("10");
    c.getAddress().setKorpus("2");
    c.getAddress().setApartment("15");
    c.getAddress().setCity(ansi("Москва"));
    c.getAddress().setRegion(ansi("77 г. Москва"));
    return c;
}

// A well-formed 2012/256 public key blob: parameter sets
// 1.2.643.2.2.36.0 and 1.2.643.7.1.1.2.2, key bytes 01..40.
inline Bytes keyBlob256() {
    Bytes b = fromHex(
        "06200000492e00004d41473100020000"        // header: 0x2E49, "MAG1", 512 bits
        "3013"                                    // SEQUENCE of the two parameter sets
        "06072a85030202240006082a85030701010202");
    for (int i = 1; i <= 64; ++i) b.push_back(static_cast<unsigned char>(i));
    return b;
}

}  // namespace reqtest
