#include "client/CClient.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "errors/eErrCodes.h"

namespace tesel {

namespace {

// Registration numbers are written into certificate requests as ASN.1
// NumericString, so only decimal digits are acceptable in them.
bool allDigits(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int digit(char c) { return static_cast<unsigned char>(c) - '0'; }

// Weighted sum of the digit values of the first `count` characters of s.
template <std::size_t N>
long long weightedSum(const std::string& s, const int (&weights)[N]) {
    long long sum = 0;
    for (std::size_t i = 0; i < N; ++i) sum += static_cast<long long>(digit(s[i])) * weights[i];
    return sum;
}

// Check character of envelope identifiers and PINs: the digit r for r up to
// 9, the letter 'A' + (r - 10) above, with r = sum mod 36.
template <std::size_t N>
char checkCharacter(const std::string& s, const int (&weights)[N]) {
    long long r = weightedSum(s, weights) % 36;
    if (r < 0) r += 36;  // characters below '0' give a negative sum
    return static_cast<char>(r <= 9 ? '0' + r : r + 55);
}

}  // namespace

CClient::CClient() = default;

int CClient::addAttachment(const CBlob& data, const std::string& name, eAttacmentDocType type) {
    return addAttachment(CBlob(data), name, type);
}

int CClient::addAttachment(CBlob&& data, const std::string& name, eAttacmentDocType type) {
    if (type != ADT_ADDITIONAL_DOCUMENT) {
        for (sAttachment& a : m_attachments) {
            if (a.type == type) {
                a.data = std::move(data);
                return 0;
            }
        }
    }
    m_attachments.push_back(sAttachment{type, name, std::move(data)});
    return 0;
}

void CClient::setAddOid(eEnhKeyOID oid, bool add) {
    if (!isKnownEnhKeyOID(oid)) return;
    if (add) m_addOids.insert(oid);
    else m_addOids.erase(oid);
}

bool CClient::checkINN(const std::string& inn, eTypeSubject kind) {
    if (!allDigits(inn)) return false;
    if (kind == TS_LEGAL_ENTITY) {
        static const int w[] = {2, 4, 10, 3, 5, 9, 4, 6, 8};
        return inn.size() == 10 && weightedSum(inn, w) % 11 % 10 == digit(inn[9]);
    }
    if (kind == TS_NATURAL_PERSON || kind == TS_ENTREPRENEUR) {
        static const int w1[] = {7, 2, 4, 10, 3, 5, 9, 4, 6, 8};
        static const int w2[] = {3, 7, 2, 4, 10, 3, 5, 9, 4, 6, 8};
        return inn.size() == 12 && weightedSum(inn, w1) % 11 % 10 == digit(inn[10]) &&
               weightedSum(inn, w2) % 11 % 10 == digit(inn[11]);
    }
    return false;
}

bool CClient::checkOGRN() const {
    if (m_clientType == TS_NATURAL_PERSON) return true;
    // OGRNIP of an entrepreneur: 15 digits, modulus 13; OGRN: 13, modulus 11.
    const std::size_t length = m_clientType == TS_ENTREPRENEUR ? 15 : 13;
    if (m_ogrn.size() != length || !allDigits(m_ogrn)) return false;
    const long long number = std::strtoll(m_ogrn.substr(0, length - 1).c_str(), nullptr, 10);
    return number % static_cast<long long>(length - 2) % 10 == digit(m_ogrn[length - 1]);
}

bool CClient::checkKPP() const { return m_clientType != TS_LEGAL_ENTITY || m_kpp.size() == 9; }

bool CClient::checkSNILS() const {
    const std::string& snils = getSNILS();
    if (snils.size() != 11 || !allDigits(snils)) return false;
    static const int w[] = {9, 8, 7, 6, 5, 4, 3, 2, 1};
    long long sum = weightedSum(snils, w);
    if (sum > 101) sum %= 101;
    const long long check = sum < 100 ? sum : 0;
    return check == std::atoi(snils.substr(9, 2).c_str());
}

bool CClient::checkCompanyName() const {
    return m_clientType != TS_LEGAL_ENTITY || !m_companyName.empty();
}

bool CClient::checkFullName() const { return !getSurname().empty() && !getName().empty(); }

bool CClient::checkPosition() const {
    return m_clientType != TS_LEGAL_ENTITY || !getPosition().empty();
}

bool CClient::checkContactInfo() const {
    return !m_phone.empty() && !getEmail().empty() && !m_address.getRegion().empty() &&
           !m_address.getCity().empty() && !m_address.getStreet().empty();
}

int CClient::checkCSP() const { return m_csp == qn::crypto::CP_NONE ? ERR_INVALID_CSP : 0; }

int CClient::checkConvert() const { return tesel::checkConvert(m_convertId); }

int checkConvert(const std::string& id) {
    static const int w[] = {3, 7, 9, 4, 1};
    if (id.size() != 6) return ERR_INVALID_ENVELOPE_ID;
    return id[5] == checkCharacter(id, w) ? 0 : ERR_INVALID_ENVELOPE_ID;
}

bool checkPIN(const std::string* pin) {
    static const int w[] = {7, 2, 3, 7, 9, 4, 1};
    return pin != nullptr && pin->size() == 8 && (*pin)[7] == checkCharacter(*pin, w);
}

bool checkEmail(const std::string* email) {
    if (email == nullptr) return false;
    const auto at = email->find('@');
    return at != std::string::npos && email->find('.', at) != std::string::npos;
}

void CClient::trimNULLInStrings() {
    NaturalPerson::trimNULLInStrings();
    for (std::string* s : {&m_companyName, &m_ogrn, &m_kpp, &m_phone, &m_comment, &m_convertId})
        trimNULLStr(*s);
    m_address.trimNULLInStrings();
    for (sAttachment& a : m_attachments) trimNULLStr(a.name);
}

bool CClient::operator==(const CClient& other) const {
    auto sameAttachments = [](const std::vector<sAttachment>& a,
                              const std::vector<sAttachment>& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                          [](const sAttachment& x, const sAttachment& y) {
                              return x.type == y.type && x.name == y.name && x.data == y.data;
                          });
    };
    return static_cast<const NaturalPerson&>(*this) == other &&
           AP_WithoutStamp == other.AP_WithoutStamp &&
           sameAttachments(m_attachments, other.m_attachments) &&
           m_clientType == other.m_clientType && m_addOids == other.m_addOids &&
           m_companyName == other.m_companyName && m_ogrn == other.m_ogrn &&
           m_kpp == other.m_kpp && m_phone == other.m_phone && m_comment == other.m_comment &&
           m_convertId == other.m_convertId && m_template == other.m_template &&
           m_csp == other.m_csp && m_address == other.m_address && m_period == other.m_period &&
           m_enhOids == other.m_enhOids;
}

}  // namespace tesel
