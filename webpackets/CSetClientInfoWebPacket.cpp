#include "webpackets/CSetClientInfoWebPacket.h"

#include <utility>

#include "core/DateTime.h"
#include "core/TextConvert.h"
#include "errors/eErrCodes.h"
#include "webpackets/CardSelector.h"
#include "webpackets/eClientInfo.h"

using tesel::CClient;

namespace {

bool isNumberField(unsigned field) {
    return field == CI_TEMPLATE || field == CI_CLIENT_TYPE || field == CI_SEX || field == CI_PASSPORT_DOC_TYPE;
}

bool isKnownField(unsigned field) { return field >= CI_CONVERT_ID && field <= CI_PASSPORT_DOC_TYPE; }

void setNumber(CClient& card, unsigned field, unsigned value) {
    switch (field) {
        case CI_TEMPLATE:
            card.setTemplateCertId(static_cast<tesel::eCertTemplate>(value));
            if (value == 5) card.getCertValidityPeriod().setCertPeriod("1");
            if (value == 8) card.getCertValidityPeriod().setCertPeriod("3");
            break;
        case CI_CLIENT_TYPE:
            card.setClientType(static_cast<tesel::eTypeSubject>(value));
            break;
        case CI_SEX:
            card.getPassport().setSex(static_cast<tesel::SexPerson>(value));
            break;
        case CI_PASSPORT_DOC_TYPE:
            card.getPassport().setDocType(static_cast<tesel::ePassportDocType>(value));
            break;
        default:
            break;
    }
}

void setText(CClient& card, unsigned field, const std::string& v) {
    tesel::CAddress& address = card.getAddress();
    tesel::Passport& passport = card.getPassport();
    switch (field) {
        case CI_CONVERT_ID: card.setConvertId(v); break;
        case CI_INN: card.setINN(v); break;
        case CI_KPP: card.setKPP(v); break;
        case CI_OGRN: card.setOGRN(v); break;
        case CI_SURNAME: card.setSurname(v); break;
        case CI_NAME: card.setName(v); break;
        case CI_PATRONYMIC: card.setPatronymic(v); break;
        case CI_SNILS: card.setSNILS(v); break;
        case CI_POSITION: card.setPosition(v); break;
        case CI_PHONE: card.setPhone(v); break;
        case CI_EMAIL: card.setEmail(v); break;
        case CI_REGION: address.setRegion(v); break;
        case CI_CITY: address.setCity(v); break;
        case CI_STREET: address.setStreet(v); break;
        case CI_HOUSE: address.setHouse(v); break;
        case CI_KORPUS: address.setKorpus(v); break;
        case CI_APARTMENT: address.setApartment(v); break;
        case CI_COMMENT: card.setComment(v); break;
        case CI_PASSPORT_SERIES: passport.setSeries(v); break;
        case CI_PASSPORT_NUMBER: passport.setNumber(v); break;
        case CI_PASSPORT_ISSUER: passport.setIssuer(v); break;
        case CI_PASSPORT_ISSUE_DATE: passport.setIssueDate(tesel::strToTime(v, tesel::DATE_YMD_COMPACT)); break;
        case CI_PLACE_OF_BIRTH: passport.setPlaceBirth(v); break;
        case CI_BIRTHDAY: passport.setBirtday(tesel::strToTime(v, tesel::DATE_YMD_COMPACT)); break;
        case CI_COMPANY_NAME: card.setCompanyName(v); break;
        case CI_DIVISION_CODE: passport.setDivisionCode(v); break;
        default: break;
    }
}

}  // namespace

CSetClientInfoWebPacket::CSetClientInfoWebPacket(tesel::CBlob payload)
    : CWebPacket(std::move(payload), SET_CLIENT_INFO_ANSWER) {}

int CSetClientInfoWebPacket::process(tesel::CBlob& reply) {
    std::string key;
    unsigned type = 0;
    unsigned field = 0;
    m_payload.deserialize(&key);
    m_payload.deserialize(type);
    m_payload.deserialize(field);
    if (replyIfMalformed(reply)) return 0;

    unsigned number = 0;
    std::string text;
    if (isNumberField(field)) {
        m_payload.deserialize(number);
    } else if (isKnownField(field)) {
        m_payload.deserialize(&text);
        text = tesel::convertFromUTF8(text);
    }
    if (replyIfMalformed(reply)) return 0;

    bool refused = false;
    const bool found = editSelectedCard(key, static_cast<tesel::PackageType>(type),
                                        {tesel::PT_CLIENT_CARD, tesel::PT_KA_CARD, tesel::PT_PROLONG},
                                        [&](CClient& card, CPacket_PKCS10_Client_Base*) {
                                            if (!isKnownField(field)) {
                                                refused = true;
                                            } else if (isNumberField(field)) {
                                                setNumber(card, field, number);
                                            } else {
                                                setText(card, field, text);
                                            }
                                        });
    if (!found) {
        reply = codeAnswer(ERR_INTERNAL);
        return 0;
    }
    if (refused) return 1;  // the connection is closed without a reply
    reply = codeAnswer(ERR_OK);
    return 0;
}
