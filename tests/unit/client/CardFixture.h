// A fully populated client card and its expected byte forms, written out
// field by field from the card layout (not through the card writer).
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "CardBytes.h"
#include "client/CClient.h"

namespace cardtest {

struct AttachmentValues {
    int type;
    std::string name;
    std::string data;
};

struct CardValues {
    int clientType = 0;
    bool withoutStamp = true;
    std::string inn = "5032149676";
    std::string ogrn = "1025032149670";
    std::string kpp = "503201001";
    // "ООО Ромашка" in CP1251.
    std::string company = "\xCE\xCE\xCE \xD0\xEE\xEC\xE0\xF8\xEA\xE0";
    std::string surname = "Petrov";
    std::string name = "Petr";
    std::string patronymic = "Petrovich";
    std::string snils = "50321496744";
    std::string position = "Director";
    int docType = 21;
    std::string series = "4509";
    std::string number = "123456";
    std::string issuer = "OVD";
    std::string division = "770-001";
    int sex = 1;
    SYSTEMTIME issued = makeTime(2010, 4, 15);
    std::string placeBirth = "Moscow";
    SYSTEMTIME birthday = makeTime(1980, 12, 31);
    std::string phone = "+7 495 000-00-00";
    std::string email = "petrov@example.ru";
    std::string region = "77";
    std::string city = "Moscow";
    std::string street = "Tverskaya";
    std::string house = "1";
    std::string korpus = "2";
    std::string apartment = "3";
    std::string comment = "note";
    std::string convertId = "50321F";
    int certTemplate = 2;
    int csp = 80;
    std::string months = "24";
    std::vector<int> purposes = {26, 3};
    std::vector<std::string> purposeTexts = {"1.2.643.6.7", "1.2.643.2.64.1.1.1"};
    std::vector<AttachmentValues> attachments = {{1, "inn.pdf", "PDF1"},
                                                 {5, "extra.png", "PNGDATA"}};
};

inline tesel::CBlob blobOf(const std::string& s) {
    return tesel::CBlob(reinterpret_cast<const unsigned char*>(s.data()),
                        static_cast<unsigned>(s.size()));
}

inline void fill(tesel::CClient& c, const CardValues& v) {
    using namespace tesel;
    c.setClientType(static_cast<eTypeSubject>(v.clientType));
    c.AP_WithoutStamp = v.withoutStamp;
    c.setINN(v.inn);
    c.setOGRN(v.ogrn);
    c.setKPP(v.kpp);
    c.setCompanyName(v.company);
    c.setSurname(v.surname);
    c.setName(v.name);
    c.setPatronymic(v.patronymic);
    c.setSNILS(v.snils);
    c.setPosition(v.position);
    Passport& p = c.getPassport();
    p.setDocType(static_cast<ePassportDocType>(v.docType));
    p.setSeries(v.series);
    p.setNumber(v.number);
    p.setIssuer(v.issuer);
    p.setDivisionCode(v.division);
    p.setSex(static_cast<SexPerson>(v.sex));
    p.setIssueDate(v.issued);
    p.setPlaceBirth(v.placeBirth);
    p.setBirtday(v.birthday);
    c.setPhone(v.phone);
    c.setEmail(v.email);
    c.getAddress().setRegion(v.region);
    c.getAddress().setCity(v.city);
    c.getAddress().setStreet(v.street);
    c.getAddress().setHouse(v.house);
    c.getAddress().setKorpus(v.korpus);
    c.getAddress().setApartment(v.apartment);
    c.setComment(v.comment);
    c.setConvertId(v.convertId);
    c.setTemplateCertId(static_cast<eCertTemplate>(v.certTemplate));
    c.setCSP(static_cast<qn::crypto::eSupportCP>(v.csp));
    c.getCertValidityPeriod().setCertPeriod(v.months);
    for (int o : v.purposes) c.setAddOid(static_cast<eEnhKeyOID>(o), true);
    for (const auto& t : v.purposeTexts) c.addEnhOid(t);
    for (const auto& a : v.attachments)
        c.addAttachment(blobOf(a.data), a.name, static_cast<eAttacmentDocType>(a.type));
}

// Where the length fields of a written card lie (for damaging them).
struct CardOffsets {
    std::size_t innLength = 0;
    std::size_t passportMarker = 0;
    std::size_t passportLength = 0;
    std::size_t periodLength = 0;
    std::size_t purposesLength = 0;
    std::vector<std::size_t> attachmentStarts;
};

inline Bytes passportRecord(const CardValues& v) {
    Bytes inner;
    inner.u32(v.docType).str(v.series).str(v.number).str(v.issuer).str(v.division).u32(v.sex);
    inner.time(v.issued).str(v.placeBirth).time(v.birthday);
    Bytes rec;
    rec.raw({0x2D, 0xF5, 0xD3, 0xE3}).blob(inner);
    return rec;
}

inline Bytes periodRecord(const std::string& months) {
    Bytes p;
    p.u32(1).str(months);
    return p;
}

// webForm: purposes as the sorted texts instead of the sorted values.
inline Bytes expectedCard(const CardValues& v, bool webForm, CardOffsets* at = nullptr) {
    CardOffsets o;
    Bytes b;
    b.raw({0x1D, 0xF1, 0xDE, 0x34}).u32(106).u32(v.clientType).flag(v.withoutStamp);
    o.innLength = b.size();
    b.str(v.inn).str(v.ogrn).str(v.kpp).str(v.company).str(v.surname).str(v.name);
    b.str(v.patronymic).str(v.snils).str(v.position);
    o.passportMarker = b.size();
    o.passportLength = b.size() + 4;
    b.raw(passportRecord(v));
    b.str(v.phone).str(v.email).str(v.region).str(v.city).str(v.street).str(v.house);
    b.str(v.korpus).str(v.apartment).str(v.comment).str(v.convertId);
    b.u32(v.certTemplate).u32(v.csp);
    o.periodLength = b.size();
    b.blob(periodRecord(v.months));
    Bytes purposes;
    if (webForm) {
        std::vector<std::string> texts = v.purposeTexts;
        std::sort(texts.begin(), texts.end());
        for (const auto& t : texts) purposes.str(t);
    } else {
        std::vector<int> values = v.purposes;
        std::sort(values.begin(), values.end());
        for (int x : values) purposes.u32(x);
    }
    o.purposesLength = b.size();
    b.blob(purposes);
    for (const auto& a : v.attachments) {
        o.attachmentStarts.push_back(b.size());
        b.u32(a.type).str(a.name).str(a.data);
    }
    if (at) *at = o;
    return b;
}

// The same card in the version-105 layout (no stamp flag, passport without
// marker, type, division code and sex, no CSP; two unused u32 fields).
inline Bytes expectedCard105(const CardValues& v, bool withPeriod = true,
                             std::uint32_t version = 105) {
    Bytes b;
    b.raw({0x1D, 0xF1, 0xDE, 0x34}).u32(version).u32(0).u32(v.clientType);
    b.str(v.inn).str(v.ogrn).str(v.kpp).str(v.company).str(v.surname).str(v.name);
    b.str(v.patronymic).str(v.snils).str(v.position);
    b.str(v.series).str(v.number).str(v.issuer).time(v.issued).str(v.placeBirth).time(v.birthday);
    b.str(v.phone).str(v.email).str(v.region).str(v.city).str(v.street).str(v.house);
    b.str(v.korpus).str(v.apartment).str(v.comment).str(v.convertId);
    b.u32(0).u32(v.certTemplate);
    if (withPeriod) b.blob(periodRecord(v.months));
    Bytes purposes;
    std::vector<int> values = v.purposes;
    std::sort(values.begin(), values.end());
    for (int x : values) purposes.u32(x);
    b.blob(purposes);
    for (const auto& a : v.attachments) b.u32(a.type).str(a.name).str(a.data);
    return b;
}

}  // namespace cardtest
