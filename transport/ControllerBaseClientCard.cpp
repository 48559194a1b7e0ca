#include <string>
#include <string_view>

#include "errors/eErrCodes.h"
#include "pki/CCertObject.h"
#include "transport/ControllerBaseClient.h"

namespace {

constexpr std::string_view kKppMarker = "KPP=";
constexpr std::size_t kKppLength = 9;

}  // namespace

unsigned ControllerBaseClient::loadCardFromCert(const CERT_CONTEXT* cert, tesel::CClient& card) const {
    CCertObject object;
    object.init();
    if (const unsigned r = object.parseCertificate(cert)) return r;

    card.setClientType(object.getTypeSubject());
    card.setTemplateCertId(object.getCertTempalate());

    card.setINN(object.getSubjectAttr(tesel::OID_INN));
    std::string ogrn = object.getSubjectAttr(tesel::OID_OGRN);
    if (ogrn.empty()) ogrn = object.getSubjectAttr(tesel::OID_OGRNIP);
    card.setOGRN(ogrn);

    const std::string unstructured = object.getSubjectAttr(tesel::OID_UNSTRUCTURED_NAME);
    const std::size_t kpp = unstructured.find(kKppMarker);
    if (kpp != std::string::npos) card.setKPP(unstructured.substr(kpp + kKppMarker.size(), kKppLength));

    card.setCompanyName(object.getSubjectAttr(tesel::OID_ORGANIZATION));

    // The given name attribute carries the name and the patronymic.
    const std::string given = object.getSubjectAttr(tesel::OID_GIVEN_NAME);
    const std::size_t blank = given.find(' ');
    if (blank == std::string::npos) {
        card.setName(given);
    } else {
        card.setName(given.substr(0, blank));
        card.setPatronymic(given.substr(blank + 1));
    }
    card.setSurname(object.getSubjectAttr(tesel::OID_SURNAME));
    card.setSNILS(object.getSubjectAttr(tesel::OID_SNILS));
    card.setPosition(object.getSubjectAttr(tesel::OID_TITLE));
    card.setEmail(object.getSubjectAttr(tesel::OID_EMAIL));

    tesel::CAddress& address = card.getAddress();
    address.setRegion(object.getSubjectAttr(tesel::OID_STATE));
    address.setCity(object.getSubjectAttr(tesel::OID_LOCALITY));
    address.setStreet(object.getSubjectAttr(tesel::OID_STREET));
    address.setHouse("");
    address.setKorpus("");
    address.setApartment("");

    card.setEnhOids(object.getEnhKeysStr());
    return ERR_OK;
}
