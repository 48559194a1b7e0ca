// The CA packet records: defaults, answer formats, container names, the
// processing flag and the client controller's current packet.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "PacketTestSupport.h"
#include "errors/eErrCodes.h"
#include "transport/CPacketClientCard.h"
#include "transport/CPacketProlongKey.h"
#include "transport/CPacket_PKCS10_Client.h"
#include "transport/ControllerBaseClient.h"

using namespace packets_test;

namespace {

SYSTEMTIME at(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s) {
    SYSTEMTIME t{};
    t.wYear = y;
    t.wMonth = mo;
    t.wDay = d;
    t.wHour = h;
    t.wMinute = mi;
    t.wSecond = s;
    return t;
}

}  // namespace

TEST(CaPackets, FreshRequestHasNoAnswerYet) {
    SYSTEMTIME before{};
    GetLocalTime(&before);
    CPacket_PKCS10_Client p;
    EXPECT_EQ(p.getPackageType(), tesel::PT_PKCS10);
    EXPECT_EQ(p.getCSP(), qn::crypto::CP_NONE);
    EXPECT_EQ(static_cast<unsigned>(p.getResponse()), 0xFFFFFFFFu);
    EXPECT_FALSE(p.isResponsed());
    EXPECT_TRUE(p.getUserCert().isEmpty());
    EXPECT_EQ(p.getStatus(), 0u);
    EXPECT_EQ(p.getPrKey(), 0u);
    EXPECT_TRUE(p.getServerUUID().empty());
    EXPECT_EQ(p.getCreationTime().wYear, before.wYear);

    CPacketProlongKey renewal;
    EXPECT_EQ(renewal.getPackageType(), tesel::PT_PROLONG);
    EXPECT_FALSE(renewal.isResponsed());
    CPacketClientCard card;
    EXPECT_EQ(card.getPackageType(), tesel::PT_CLIENT_CARD);
    EXPECT_EQ(static_cast<unsigned>(card.getResponse()), 0xFFFFFFFFu);
    EXPECT_FALSE(card.isResponsed());
}

TEST(CaPackets, EachPacketReadsItsAnswerFormat) {
    CBlob certAnswer = blobOf(le32(0) + lp("DER-CERT"));
    CPacket_PKCS10_Client request;
    ISerializer& reader = request;
    ASSERT_EQ(reader.deserializeServerAnswer(&certAnswer), 0);
    EXPECT_EQ(request.getResponse(), tesel::CLIENT_RESPONSE_APPROVED);
    EXPECT_TRUE(request.isResponsed());
    EXPECT_EQ(text(request.getUserCert()), "DER-CERT");

    CBlob renewalAnswer = blobOf(le32(3) + lp("rejected: bad INN") + lp(""));
    CPacketProlongKey renewal;
    ASSERT_EQ(renewal.deserializeServerAnswer(&renewalAnswer), 0);
    EXPECT_EQ(static_cast<unsigned>(renewal.getResponse()), 3u);
    EXPECT_EQ(renewal.getMessage(), "rejected: bad INN");
    EXPECT_TRUE(renewal.getUserCert().isEmpty());

    CBlob cardAnswer = blobOf(le32(0) + lp("accepted"));
    CPacketClientCard card;
    ASSERT_EQ(card.deserializeServerAnswer(&cardAnswer), 0);
    EXPECT_EQ(card.getResponse(), tesel::PARTNER_RESPONSE_ACCEPTED);
    EXPECT_EQ(card.getMessage(), "accepted");
}

TEST(CaPackets, AnswersRunningPastTheirEndAreDamagedAndChangeNothing) {
    const std::string certBytes = le32(0) + lp("DER-CERT");
    for (std::size_t cut = 0; cut < certBytes.size(); ++cut) {
        CBlob answer = blobOf(certBytes.substr(0, cut));
        CPacket_PKCS10_Client p;
        EXPECT_EQ(p.deserializeServerAnswer(&answer), ERR_PACKET_DAMAGED) << cut;
        EXPECT_FALSE(p.isResponsed());
        EXPECT_TRUE(p.getUserCert().isEmpty());
    }
    CPacketProlongKey renewal;
    renewal.setMessage("before");
    CBlob longMessage = blobOf(le32(0) + le32(1000) + "short");
    EXPECT_EQ(renewal.deserializeServerAnswer(&longMessage), ERR_PACKET_DAMAGED);
    EXPECT_EQ(renewal.getMessage(), "before");
    EXPECT_FALSE(renewal.isResponsed());
    CBlob noCert = blobOf(le32(0) + lp("m"));
    EXPECT_EQ(renewal.deserializeServerAnswer(&noCert), ERR_PACKET_DAMAGED);

    CPacketClientCard card;
    CBlob cardAnswer = blobOf(le32(0) + le32(0xFFFFFFF0u));
    EXPECT_EQ(card.deserializeServerAnswer(&cardAnswer), ERR_PACKET_DAMAGED);
    EXPECT_FALSE(card.isResponsed());
    EXPECT_EQ(card.deserializeServerAnswer(nullptr), ERR_PACKET_DAMAGED);
}

TEST(ContainerNames, SurnameOnlyForCryptoApiKinds) {
    const SYSTEMTIME t = at(2024, 3, 5, 9, 7, 2);
    EXPECT_EQ(createContainerName(qn::crypto::CP_CRYPTOPRO, "Ivanov", "7707083893", t),
              "Ivanov_7707083893_20240305_090702");
    EXPECT_EQ(createContainerName(qn::crypto::CP_VIPNET_GOST2012_256, "Ivanov", "7707083893", t),
              "Ivanov_7707083893_20240305_090702");
    for (auto kind : {qn::crypto::CP_RUTOKEN_GOST2012_256, qn::crypto::CP_JACARTA_GOST, qn::crypto::CP_NONE,
                      static_cast<qn::crypto::eSupportCP>(76)}) {
        const std::string name = createContainerName(kind, "Ivanov", "7707083893", t);
        EXPECT_EQ(name, "7707083893_20240305_090702") << kind;
        EXPECT_EQ(std::count(name.begin(), name.end(), '_'), 2);
    }
}

TEST(ContainerNames, PacketUsesItsCspCardAndCreationTime) {
    CPacketProlongKey a, b;
    for (CPacketProlongKey* p : {&a, &b}) {
        p->setCSP(qn::crypto::CP_CRYPTOPRO_GOST2012_256);
        p->getClient().setSurname("Petrov");
        p->getClient().setINN("500100732259");
        p->setCreationTime(at(2025, 12, 31, 23, 59, 58));
    }
    EXPECT_EQ(a.createContainerName(), "Petrov_500100732259_20251231_235958");
    // Same person, same second: the same name.
    EXPECT_EQ(a.createContainerName(), b.createContainerName());
    a.setCSP(qn::crypto::CP_RUTOKEN_GOST2012_256);
    EXPECT_EQ(a.createContainerName(), "500100732259_20251231_235958");
}

TEST(ProcessedFlag, OnlyOneWorkerCapturesIt) {
    CPacketClientCard p;
    EXPECT_TRUE(p.captureProcessed());
    EXPECT_FALSE(p.captureProcessed());
    p.freeProcessed();
    EXPECT_TRUE(p.captureProcessed());
    p.freeProcessed();

    std::atomic<int> winners{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            if (p.captureProcessed()) ++winners;
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(winners.load(), 1);
    CPacketClientCard copy(p);
    EXPECT_TRUE(copy.isProcessed());
}

namespace {

struct CountedPacket : CPacket_PKCS10_Client {
    explicit CountedPacket(int& d) : destroyed(d) {}
    ~CountedPacket() override { ++destroyed; }
    int& destroyed;
};

}  // namespace

TEST(ControllerBaseClient, NewCurrentPacketReplacesAndDestroysTheOwnedOne) {
    ControllerBaseClient controller;
    EXPECT_EQ(controller.getCurrentClientPacket(), nullptr);
    int destroyed = 0;
    controller.setCurrentClientPacket(new CountedPacket(destroyed), true);
    CPacketProlongKey* first = controller.createProlongPacket().get();
    EXPECT_EQ(destroyed, 1);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(controller.getCurrentClientPacket().get(), first);
    EXPECT_EQ(first->getPackageType(), tesel::PT_PROLONG);
    CPacketProlongKey* second = controller.createProlongPacket().get();
    EXPECT_EQ(controller.getCurrentClientPacket().get(), second);

    // A packet the controller does not own survives being replaced.
    CountedPacket borrowed(destroyed);
    controller.setCurrentClientPacket(&borrowed, false);
    controller.createProlongPacket();
    EXPECT_EQ(destroyed, 1);
}

TEST(ControllerBaseClient, APacketInUseOutlivesItsReplacement) {
    ControllerBaseClient controller;
    int destroyed = 0;
    controller.setCurrentClientPacket(new CountedPacket(destroyed), true);
    std::shared_ptr<CPacket_PKCS10_Client_Base> held = controller.getCurrentClientPacket();
    controller.createProlongPacket();
    EXPECT_EQ(destroyed, 0);  // the holder still works with it
    held->getClient().setSurname("still valid");
    held.reset();
    EXPECT_EQ(destroyed, 1);
    EXPECT_TRUE(controller.withCurrentClientPacket([](CPacket_PKCS10_Client_Base& p) {
        EXPECT_NE(dynamic_cast<CPacketProlongKey*>(&p), nullptr);
    }));
    ControllerBaseClient empty;
    EXPECT_FALSE(empty.withCurrentClientPacket([](CPacket_PKCS10_Client_Base&) { ADD_FAILURE(); }));
}
