// The card commands through the command table: card selectors, field and
// purpose rules, attachments, partner cards and the renewal packet they edit.
#include <gtest/gtest.h>

#include <string>

#include "app/Settings.h"
#include "core/CBlob.h"
#include "errors/eErrCodes.h"
#include "helpers/ByteStrings.h"
#include "server/dispatch/processPacket.h"
#include "transport/CPacket_PKCS10_Client.h"
#include "webpackets/ControllerWebPackets.h"
#include "webpackets/ModulePartnerCard.h"

using test_bytes::blobOf;
using test_bytes::le32;
using test_bytes::lp;

namespace {

struct Reply {
    unsigned answer = 0;
    unsigned result = 0;
    bool sent = false;  // process returned 0
    tesel::CBlob rest;
};

Reply run(unsigned command, const std::string& payload) {
    tesel::CBlob request = blobOf(lp("uid") + le32(1) + le32(command) + payload);
    tesel::CBlob reply;
    Reply out;
    out.sent = processPacket(request, reply) == 0;
    if (reply.isEmpty()) return out;
    std::string uid;
    unsigned format = 0;
    reply.deserialize(&uid);
    reply.deserialize(format);
    reply.deserialize(out.answer);
    reply.deserialize(out.result);
    out.rest.init(reply.getData() + reply.getOffset(), reply.remaining());
    return out;
}

std::string selector(const std::string& key, unsigned type) { return lp(key) + le32(type); }

tesel::CClient partner(const std::string& key) {
    tesel::CClient card;
    ModulePartnerCard::instance().withPartnerCard(key, [&](CPacketClientCard& p) { card = p.getClient(); });
    return card;
}

tesel::CClient renewalCard() {
    tesel::CClient card;
    ControllerWebPackets::instance().withCurrentClientPacket(
        [&](CPacket_PKCS10_Client_Base& p) { card = p.getClient(); });
    return card;
}

}  // namespace

TEST(CardCommands, RequestedCspChangesBeforeTheSelectorIsChecked) {
    Reply r = run(54, selector("k54", 5) + le32(75));
    EXPECT_EQ(r.answer, 55u);
    EXPECT_EQ(r.result, static_cast<unsigned>(ERR_INTERNAL));
    EXPECT_EQ(getRequestedCSP(), qn::crypto::CP_CRYPTOPRO_GOST2012_256);

    ASSERT_EQ(run(142, lp("k54")).result, 0u);
    EXPECT_EQ(run(54, selector("k54", 9) + le32(80)).result, 0u);
    EXPECT_EQ(partner("k54").getCSP(), qn::crypto::CP_CRYPTOPRO_GOST2012_256);

    ControllerWebPackets::instance().createProlongPacket();
    EXPECT_EQ(run(54, selector("", 7) + le32(81)).result, 0u);
    EXPECT_EQ(renewalCard().getCSP(), qn::crypto::CP_CRYPTOPRO_GOST2012_512);
    EXPECT_EQ(ControllerWebPackets::instance().getCurrentClientPacket()->getCSP(),
              qn::crypto::CP_CRYPTOPRO_GOST2012_512);
}

TEST(CardCommands, PurposesFollowTheTemplateListsAndIgnoreUnknownTexts) {
    ASSERT_EQ(run(142, lp("k56")).result, 0u);
    auto purpose = [](unsigned type, const std::string& oid, unsigned add) {
        return run(56, selector("k56", type) + lp(oid) + le32(add));
    };
    // Template 1 already lists 1.2.643.6.7 for any applicant: nothing added.
    ASSERT_EQ(run(40, selector("k56", 1) + le32(4) + le32(1)).result, 0u);
    Reply r = purpose(1, "1.2.643.6.7", 1);
    EXPECT_EQ(r.answer, 56u);
    EXPECT_EQ(r.result, 0u);
    EXPECT_TRUE(partner("k56").getAddOids().empty());
    // Template 3 lists it per applicant kind only: added, then removed.
    ASSERT_EQ(run(40, selector("k56", 1) + le32(4) + le32(3)).result, 0u);
    EXPECT_EQ(purpose(1, "1.2.643.6.7", 1).result, 0u);
    EXPECT_EQ(partner("k56").getAddOids().count(tesel::ENH_B2B), 1u);
    EXPECT_EQ(purpose(1, "9.9.9", 1).result, 0u);
    EXPECT_EQ(partner("k56").getAddOids().size(), 1u);
    EXPECT_EQ(purpose(9, "1.2.643.6.7", 0).result, static_cast<unsigned>(ERR_INTERNAL));
    EXPECT_EQ(purpose(1, "1.2.643.6.7", 0).result, 0u);
    EXPECT_TRUE(partner("k56").getAddOids().empty());
}

TEST(CardCommands, FieldsOfCommand40) {
    ASSERT_EQ(run(142, lp("k40")).result, 0u);
    auto number = [](unsigned type, unsigned field, unsigned v) {
        return run(40, selector("k40", type) + le32(field) + le32(v));
    };
    auto months = [] {
        std::string m;
        partner("k40").getCertValidityPeriod().getPeriod(m);
        return m;
    };
    EXPECT_EQ(number(1, 4, 5).result, 0u);
    EXPECT_EQ(months(), "1");
    EXPECT_EQ(number(9, 4, 8).result, 0u);
    EXPECT_EQ(months(), "3");
    EXPECT_EQ(number(1, 4, 0).result, 0u);
    EXPECT_EQ(months(), "3");
    EXPECT_EQ(partner("k40").getTemplateCertId(), 0);

    // UTF-8 in, CP1251 stored; dates in the compact form.
    EXPECT_EQ(run(40, selector("k40", 1) + le32(9) + lp("\xD0\x98\xD0\xB2")).result, 0u);
    EXPECT_EQ(partner("k40").getSurname(), "\xC8\xE2");
    EXPECT_EQ(run(40, selector("k40", 1) + le32(28) + lp("19850607")).result, 0u);
    const SYSTEMTIME birthday = partner("k40").getPassport().getBirtday();
    EXPECT_EQ(birthday.wYear, 1985);
    EXPECT_EQ(birthday.wMonth, 6);
    EXPECT_EQ(birthday.wDay, 7);

    // Type 7 edits the renewal packet's card.
    ControllerWebPackets::instance().createProlongPacket();
    EXPECT_EQ(run(40, selector("", 7) + le32(6) + lp("7707083893")).result, 0u);
    EXPECT_EQ(renewalCard().getINN(), "7707083893");

    // Refused: other types and missing keys answer 1; other fields close
    // the connection unanswered; a value missing from the payload is 1.
    EXPECT_EQ(number(5, 5, 1).result, static_cast<unsigned>(ERR_INTERNAL));
    EXPECT_EQ(run(40, selector("nobody", 1) + le32(9) + lp("x")).result, static_cast<unsigned>(ERR_INTERNAL));
    for (unsigned field : {0u, 2u, 33u, 0xFFFFFFFFu}) {
        const Reply refused = run(40, selector("k40", 1) + le32(field) + lp("x"));
        EXPECT_FALSE(refused.sent) << field;
    }
    EXPECT_EQ(run(40, selector("k40", 1) + le32(9)).result, static_cast<unsigned>(ERR_INTERNAL));
}

TEST(CardCommands, AttachmentsAndPartnerCards) {
    ASSERT_EQ(run(142, lp("k42")).result, 0u);
    auto attach = [](unsigned type, unsigned doc, const std::string& name, const std::string& data) {
        return run(42, selector("k42", type) + le32(doc) + lp(name) + lp(data));
    };
    EXPECT_EQ(attach(1, 1, "first.pdf", "one").result, 0u);
    EXPECT_EQ(attach(1, 1, "second.pdf", "two").result, 0u);
    EXPECT_EQ(attach(1, 5, "a.jpg", "a").result, 0u);
    EXPECT_EQ(attach(1, 5, "b.jpg", "b").result, 0u);
    EXPECT_EQ(attach(9, 1, "x", "x").result, static_cast<unsigned>(ERR_INTERNAL));
    const auto attachments = partner("k42").getAttachments();
    ASSERT_EQ(attachments.size(), 3u);
    EXPECT_EQ(attachments[0].name, "first.pdf");
    EXPECT_EQ(test_bytes::text(attachments[0].data), "two");

    // A second 142 keeps the first card.
    ASSERT_EQ(run(142, lp("k42")).result, 0u);
    EXPECT_EQ(partner("k42").getAttachments().size(), 3u);
    // 140 without a card under the key answers 1 and nothing else.
    const Reply built = run(140, lp("nobody"));
    EXPECT_EQ(built.result, static_cast<unsigned>(ERR_INTERNAL));
    EXPECT_TRUE(built.rest.isEmpty());
}

TEST(CardCommands, SaveAndRenewalNeedARenewalPacket) {
    ControllerWebPackets& controller = ControllerWebPackets::instance();
    controller.setCurrentClientPacket(nullptr, true);
    EXPECT_EQ(run(46, "").result, static_cast<unsigned>(ERR_INTERNAL));
    EXPECT_EQ(run(26, "").result, static_cast<unsigned>(ERR_INTERNAL));
    EXPECT_EQ(run(40, selector("", 7) + le32(9) + lp("x")).result, static_cast<unsigned>(ERR_INTERNAL));
    controller.setCurrentClientPacket(new CPacket_PKCS10_Client(), true);
    EXPECT_EQ(run(46, "").result, 0u);
    const Reply r = run(26, "");
    EXPECT_EQ(r.answer, 27u);
    EXPECT_EQ(r.result, static_cast<unsigned>(ERR_INTERNAL));  // not a renewal packet
    EXPECT_TRUE(r.rest.isEmpty());
}
