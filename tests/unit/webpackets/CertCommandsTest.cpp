// The certificate commands through the command table: store choice (18),
// list with statuses (20), login (22), the card held in the certificate
// (48, and the card reader behind it) and the preparation of a key for the
// CA exchange (150).
#include <map>
#include <set>
#include <string>
#include <vector>

#include "CommandTestSupport.h"
#include "app/Settings.h"
#include "client/CClient.h"
#include "core/TextConvert.h"
#include "crypto/CACertStore.h"
#include "crypto/CryptoBase.h"
#include "errors/eErrCodes.h"
#include "pki/CCertObject.h"
#include "transport/ControllerBaseClient.h"
#include "webpackets/CCertListWebPacket.h"

using namespace cmdtest;
using namespace qn::crypto;
using testca::CertFields;

namespace {

const char* const kInn = "1.2.643.3.131.1.1";

// A natural person's certificate (a valid INN, no names).
CertFields named(const std::string& cn) {
    CertFields f;
    f.subject = {{"2.5.4.3", testca::UTF8, cn}, {kInn, testca::NUMERIC, "503214967066"}};
    return f;
}

// A company's certificate with every subject attribute the card reads.
CertFields companyFields() {
    CertFields f;
    f.subject = {{"2.5.4.3", testca::UTF8, "ООО «Ромашка»"},
                 {kInn, testca::NUMERIC, "005032149676"},
                 {"1.2.643.100.1", testca::NUMERIC, "1025003213641"},
                 {"1.2.643.100.3", testca::NUMERIC, "11223344595"},
                 {"1.2.840.113549.1.9.2", testca::UTF8, "INN=5032149676/KPP=503201001/OGRN=1025003213641"},
                 {"2.5.4.10", testca::UTF8, "ООО «Ромашка»"},
                 {"2.5.4.4", testca::UTF8, "Иванов"},
                 {"2.5.4.42", testca::UTF8, "Иван Петрович"},
                 {"2.5.4.12", testca::UTF8, "Директор"},
                 {"1.2.840.113549.1.9.1", testca::IA5, "info@example.ru"},
                 {"2.5.4.8", testca::UTF8, "50 Московская область"},
                 {"2.5.4.7", testca::UTF8, "Одинцово"},
                 {"2.5.4.9", testca::UTF8, "ул. Ленина, д. 1"}};
    f.withEku = true;
    f.purposes = {"1.3.6.1.5.5.7.3.2", "1.2.3.4"};
    return f;
}

struct Record {
    unsigned index = 0;
    std::string commonName, person;
    Bytes serial;
    int kind = 0;
    std::string validTo;
    unsigned status = 0;
};

std::vector<Record> records(tesel::CBlob payload) {
    std::vector<Record> out;
    while (payload.remaining() > 0 && !payload.isMalformed()) {
        Record r;
        tesel::CBlob serial;
        payload.deserialize(r.index);
        payload.deserialize(&r.commonName);
        payload.deserialize(&r.person);
        payload.deserialize(&serial);
        payload.deserialize(r.kind);
        payload.deserialize(&r.validTo);
        payload.deserialize(r.status);
        r.serial = bytesOf(serial);
        out.push_back(r);
    }
    EXPECT_FALSE(payload.isMalformed());
    return out;
}

}  // namespace

class CertCommands : public CommandTest {};

TEST_F(CertCommands, CardFromCertificateSubject) {
    Ctx cert = certtest::ctxOf(certtest::ca2012().issue(companyFields()));
    tesel::CClient card;
    card.setKPP("999999999");
    card.getAddress().setHouse("7");
    card.getAddress().setApartment("12");
    const ControllerBaseClient reader;
    ASSERT_EQ(reader.loadCardFromCert(cert.get(), card), 0u);
    using certtest::ansi;
    EXPECT_EQ(card.getClientType(), tesel::TS_LEGAL_ENTITY);
    EXPECT_EQ(card.getINN(), "5032149676");  // without the leading "00"
    EXPECT_EQ(card.getOGRN(), "1025003213641");
    EXPECT_EQ(card.getKPP(), "503201001");
    EXPECT_EQ(card.getCompanyName(), ansi("ООО «Ромашка»"));
    EXPECT_EQ(card.getSurname(), ansi("Иванов"));
    EXPECT_EQ(card.getName(), ansi("Иван"));
    EXPECT_EQ(card.getPatronymic(), ansi("Петрович"));
    EXPECT_EQ(card.getSNILS(), "11223344595");
    EXPECT_EQ(card.getPosition(), ansi("Директор"));
    EXPECT_EQ(card.getEmail(), "info@example.ru");
    EXPECT_EQ(card.getAddress().getRegion(), ansi("50 Московская область"));
    EXPECT_EQ(card.getAddress().getCity(), ansi("Одинцово"));
    EXPECT_EQ(card.getAddress().getStreet(), ansi("ул. Ленина, д. 1"));
    EXPECT_EQ(card.getAddress().getHouse(), "");
    EXPECT_EQ(card.getAddress().getApartment(), "");
    EXPECT_EQ(card.getEnhOids(), (std::set<std::string>{"1.2.3.4", "1.3.6.1.5.5.7.3.2"}));
    EXPECT_EQ(card.getTemplateCertId(), static_cast<tesel::eCertTemplate>(-1));
}

TEST_F(CertCommands, CardFromEntrepreneurCertificate) {
    // OGRNIP stands in for a missing OGRN; a KPP without its marker and a
    // one-word given name leave the card's KPP and patronymic alone.
    CertFields f;
    f.subject = {{kInn, testca::NUMERIC, "503214967066"},
                 {"1.2.643.100.5", testca::NUMERIC, "304503214967012"},
                 {"1.2.840.113549.1.9.2", testca::UTF8, "INN=503214967066"},
                 {"2.5.4.42", testca::UTF8, "Анна"}};
    Ctx cert = certtest::ctxOf(certtest::ca2012().issue(f));
    tesel::CClient card;
    card.setKPP("503201001");
    card.setPatronymic("x");
    const ControllerBaseClient reader;
    ASSERT_EQ(reader.loadCardFromCert(cert.get(), card), 0u);
    EXPECT_EQ(card.getClientType(), tesel::TS_ENTREPRENEUR);
    EXPECT_EQ(card.getOGRN(), "304503214967012");
    EXPECT_EQ(card.getKPP(), "503201001");
    EXPECT_EQ(card.getName(), certtest::ansi("Анна"));
    EXPECT_EQ(card.getPatronymic(), "x");
    EXPECT_EQ(reader.loadCardFromCert(nullptr, card), 1u);
}

TEST_F(CertCommands, ListWithoutRootsOrStoreFails) {
    userCert("one", CP_CRYPTOPRO_GOST2012_256, named("One"));
    setRootCACerts(tesel::CBlob());
    Reply r = run(20);
    EXPECT_EQ(r.answer, 21u);
    EXPECT_EQ(r.result, 1u);
    EXPECT_TRUE(r.payload.isEmpty());

    setRootCACerts(certtest::rootsOf({certtest::ca2012().keyId()}));
    r = run(18, u32s({7}));
    EXPECT_EQ(r.answer, 19u);
    EXPECT_EQ(r.result, 0u);
    EXPECT_TRUE(r.payload.isEmpty());
    EXPECT_EQ(run(20).result, 1u);

    // A store value cut short is not taken.
    EXPECT_EQ(run(18, tesel::CBlob(u32s({0}).getData(), 3)).result, 1u);
    EXPECT_EQ(ControllerPKIClient::instance().getCertStore(), 7);
    EXPECT_EQ(run(18, u32s({0})).result, 0u);
    EXPECT_EQ(run(20).result, 0u);
}

TEST_F(CertCommands, EmptyStoreGivesTheBareHeader) {
    const Reply r = run(20);
    EXPECT_EQ(r.result, 0u);
    EXPECT_TRUE(r.payload.isEmpty());
}

TEST_F(CertCommands, ListRecordsAndStatuses) {
    CertFields valid = companyFields();
    valid.serial = {0x01, 0x02, 0x03, 0x04};
    userCert("valid", CP_CRYPTOPRO_GOST2012_256, valid);
    CertFields expired = named("Expired");
    expired.notBefore = -400LL * 86400;
    expired.notAfter = -60LL * 86400;
    userCert("expired", CP_CRYPTOPRO_GOST2012_256, expired);
    CertFields recent = named("Recent");
    recent.notAfter = -10LL * 86400;
    userCert("recent", CP_CRYPTOPRO_GOST2012_256, recent);
    CertFields noAki = named("No AKI");
    noAki.withKeyId = false;
    userCert("noaki", CP_CRYPTOPRO_GOST2012_256, noAki);
    CertFields stranger = named("Stranger");
    stranger.keyId = Bytes(20, 0x5A);
    userCert("stranger", CP_CRYPTOPRO_GOST2012_256, stranger);

    const Reply r = run(20);
    ASSERT_EQ(r.result, 0u);
    const std::vector<Record> list = records(r.payload);
    ASSERT_EQ(list.size(), 5u);
    std::map<std::string, Record> byName;
    for (unsigned i = 0; i < list.size(); ++i) {
        EXPECT_EQ(list[i].index, i);
        byName[list[i].commonName] = list[i];
    }
    const Record& v = byName.at("ООО «Ромашка»");
    EXPECT_EQ(v.person, "Иванов Иван Петрович");
    EXPECT_EQ(v.serial, (Bytes{0x04, 0x03, 0x02, 0x01}));
    EXPECT_EQ(v.kind, 0);
    EXPECT_EQ(v.status, 0u);
    EXPECT_EQ(v.validTo.size(), 19u);
    EXPECT_EQ(v.validTo[13], '-');
    EXPECT_EQ(byName.at("Expired").status, 1u);
    EXPECT_EQ(byName.at("Expired").person, " ");  // neither surname nor given name
    EXPECT_EQ(byName.at("Expired").kind, 1);
    EXPECT_EQ(byName.at("Recent").status, 0x80000000u);
    EXPECT_EQ(byName.at("No AKI").status, 0x20000000u);
    EXPECT_EQ(byName.at("Stranger").status, 0x10000000u);

    // The controller's list now has the same indices.
    EXPECT_EQ(ControllerPKIClient::instance().getMapUserCert().size(), 5u);
    EXPECT_TRUE(CCertListWebPacket::isValidCertStatus(static_cast<int>(0x80000000u)));
    EXPECT_FALSE(CCertListWebPacket::isValidCertStatus(CERT_STATUS_REVOKED));
}

namespace {

// The signature of a login reply checks with the certificate's key.
void expectSignedByKey(const tesel::CBlob& signedBlob, const Bytes& certDer, const Bytes& spki, eSupportCP kind) {
    const unsigned sigSize = kind == CP_CRYPTOPRO_GOST2012_512 ? 128 : 64;
    ASSERT_EQ(signedBlob.getSize(), 4 + certDer.size() + sigSize);
    const Bytes all = bytesOf(signedBlob);
    const Bytes message(all.begin(), all.end() - sigSize);
    const Bytes sig(all.end() - sigSize, all.end());
    tesel::CBlob m(message.data(), static_cast<unsigned>(message.size()));
    tesel::CBlob der;
    m.deserialize(&der);
    EXPECT_TRUE(m.isCompleted());
    EXPECT_EQ(bytesOf(der), certDer);
    const char* md = kind == CP_CRYPTOPRO ? "md_gost94"
                     : kind == CP_CRYPTOPRO_GOST2012_512 ? "md_gost12_512" : "md_gost12_256";
    EXPECT_TRUE(oracle::verifyDigest(oracle::publicKeyFromSpki(spki), oracle::digest(md, message),
                                     certtest::reversed(sig)));
}

}  // namespace

TEST_F(CertCommands, LoginSignsTheCertificateWithItsKey) {
    EXPECT_EQ(run(48).result, static_cast<unsigned>(ERR_ADD_YOUR_CERTIFICATE));
    for (eSupportCP kind : {CP_CRYPTOPRO, CP_CRYPTOPRO_GOST2012_256, CP_CRYPTOPRO_GOST2012_512}) {
        SCOPED_TRACE(kind);
        const std::string container = "login" + std::to_string(kind);
        const Bytes der = userCert(container, kind, companyFields());
        ASSERT_EQ(run(20).result, 0u);
        const unsigned index = static_cast<unsigned>(ControllerPKIClient::instance().getMapUserCert().size() - 1);
        const Reply r = run(22, u32s({index}));
        EXPECT_EQ(r.answer, 23u);
        ASSERT_EQ(r.result, 0u);
        tesel::CBlob payload = r.payload;
        tesel::CBlob signedBlob;
        payload.deserialize(&signedBlob);
        EXPECT_TRUE(payload.isCompleted());
        expectSignedByKey(signedBlob, der, m_lastSpki, kind);
        EXPECT_EQ(getCurrentCSP(), kind);
        EXPECT_EQ(getCurrentContainer(), "\\\\.\\FILES\\" + container);
        EXPECT_EQ(ControllerPKIClient::instance().getUserCertId(), index);
    }
    // The card of the selected certificate.
    const Reply card = run(48);
    EXPECT_EQ(card.answer, 49u);
    ASSERT_EQ(card.result, 0u);
    tesel::CBlob payload = card.payload;
    tesel::CBlob bytes;
    payload.deserialize(&bytes);
    EXPECT_TRUE(payload.isCompleted());
    tesel::CClient expected;
    ASSERT_EQ(ControllerBaseClient().loadCardFromCert(ControllerPKIClient::instance().getUserCert().get(), expected),
              0u);
    EXPECT_EQ(bytesOf(bytes), bytesOf(expected.PartnerInfoToBinary2()));
}

TEST_F(CertCommands, UnknownIndexKeepsTheSelection) {
    userCert("only", CP_CRYPTOPRO_GOST2012_256, named("Only"));
    ASSERT_EQ(run(20).result, 0u);
    ASSERT_EQ(run(22, u32s({0})).result, 0u);
    for (unsigned command : {22u, 150u}) {
        const Reply r = run(command, u32s({7, 0}));
        EXPECT_EQ(r.result, static_cast<unsigned>(ERR_CERT_NOT_IN_STORE)) << command;
        EXPECT_TRUE(r.payload.isEmpty()) << command;
    }
    EXPECT_EQ(ControllerPKIClient::instance().getUserCertId(), 0u);
    // Payloads cut short.
    EXPECT_EQ(run(22, tesel::CBlob(u32s({0}).getData(), 2)).result, 1u);
    EXPECT_EQ(run(150, u32s({0})).result, 1u);
}

TEST_F(CertCommands, LoginWithoutKeyOrCAFails) {
    // A certificate in "MY" whose key is in no container.
    CertFields f = named("Orphan");
    addToMY(certtest::ctxOf(certtest::ca2012().issue(f)).get());
    ASSERT_EQ(run(20).result, 0u);
    EXPECT_EQ(run(22, u32s({0})).result, static_cast<unsigned>(ERR_CSP_NOT_INITIALIZED));
    EXPECT_EQ(run(150, u32s({0, 0})).result, static_cast<unsigned>(ERR_CSP_NOT_INITIALIZED));
    EXPECT_EQ(run(48).result, static_cast<unsigned>(ERR_ADD_YOUR_CERTIFICATE));
}

TEST_F(CertCommands, PairedKeyOpensPacketsAddressedToIt) {
    const Bytes der = userCert("pair", CP_CRYPTOPRO_GOST2012_256, named("Pair"));
    ASSERT_EQ(run(20).result, 0u);
    const Reply r = run(150, u32s({0, 12345}));
    EXPECT_EQ(r.answer, 151u);
    EXPECT_EQ(r.result, 0u);
    EXPECT_TRUE(r.payload.isEmpty());
    Ctx cert = certtest::ctxOf(der);
    tesel::CBlob key;
    ASSERT_EQ(CryptoBase::publicKeyInfoFromCert(cert.get(), key), 0u);
    ControllerCACrypto* module = CACertStore::instance().findCryptoModule(key);
    ASSERT_NE(module, nullptr);
    EXPECT_TRUE(module->isCryptoInit());
    EXPECT_EQ(module->getCrypto()->getCSP(), CP_CRYPTOPRO_GOST2012_256);
}
