#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/CBlob.h"
#include "server/CWebPacket.h"

namespace {

std::vector<unsigned char> bytesOf(const tesel::CBlob& b) {
    return std::vector<unsigned char>(b.getData(), b.getData() + b.getSize());
}

// A command that reads one integer and one string from its payload.
class TwoFieldPacket : public CWebPacket {
public:
    explicit TwoFieldPacket(tesel::CBlob payload) : CWebPacket(std::move(payload), AUTH_ANSWER) {}
    int process(tesel::CBlob& reply) override {
        unsigned number = 0;
        std::string text;
        m_payload.deserialize(number);
        m_payload.deserialize(&text);
        if (replyIfMalformed(reply)) return 0;
        tesel::CBlob answer = codeAnswer(0, tesel::CBlob::sizeOf(text));
        answer.serialize(text);
        reply = std::move(answer);
        return static_cast<int>(number);
    }
};

class AnswerOnly : public CWebPacket {
public:
    AnswerOnly() = default;
    AnswerOnly(eCommand answer, unsigned format) : CWebPacket(answer, format) {}
    int process(tesel::CBlob& reply) override {
        reply = codeAnswer(0);
        return 0;
    }
};

}  // namespace

TEST(CWebPacket, SimpleResponseIsUidFormatAnswerResult) {
    AnswerOnly packet(GET_ERROR_LIST_ANSWER, 1);
    packet.setUid("ab");
    const tesel::CBlob header = packet.simpleResponse(5, CERT_LIST_ANSWER);
    EXPECT_EQ(bytesOf(header), (std::vector<unsigned char>{2, 0, 0, 0, 'a', 'b', 1, 0, 0, 0, 21, 0,
                                                            0, 0, 5, 0, 0, 0}));
    EXPECT_EQ(header.getSize(), CWebPacket::headerSize(2));
    EXPECT_TRUE(header.isCompleted());
    EXPECT_FALSE(header.isMalformed());
}

TEST(CWebPacket, CodeAnswerUsesTheCommandsOwnAnswer) {
    AnswerOnly enhOid(SET_ENH_OID_ANSWER, 1);
    const tesel::CBlob reply = enhOid.codeAnswer(63);
    // Empty uid: four zero bytes, then 1, 56 (not 57), 63.
    EXPECT_EQ(bytesOf(reply), (std::vector<unsigned char>{0, 0, 0, 0, 1, 0, 0, 0, 56, 0, 0, 0, 63,
                                                           0, 0, 0}));
    AnswerOnly undefined;
    EXPECT_EQ(undefined.getAnswer(), CMD_UNDEFINED);
    EXPECT_EQ(bytesOf(undefined.codeAnswer(0)),
              (std::vector<unsigned char>{0, 0, 0, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));
}

TEST(CWebPacket, CodeAnswerWithRoomLeavesTheCursorAfterTheHeader) {
    AnswerOnly packet(GET_CURRENT_CSP_ANSWER, 1);
    packet.setUid("uid");
    tesel::CBlob reply = packet.codeAnswer(0, 4);
    EXPECT_EQ(reply.getSize(), CWebPacket::headerSize(3) + 4);
    EXPECT_EQ(reply.getOffset(), CWebPacket::headerSize(3));
    reply.serialize(-2);
    EXPECT_TRUE(reply.isCompleted());
    EXPECT_FALSE(reply.isMalformed());
}

TEST(CWebPacket, PayloadIsReadFromItsStart) {
    tesel::CBlob payload(tesel::CBlob::sizeOfInt() + tesel::CBlob::sizeOf(std::string("hi")));
    payload.serialize(7u);
    payload.serialize(std::string("hi"));  // cursor now at the end
    TwoFieldPacket packet(payload);
    packet.setUid("u");
    tesel::CBlob reply;
    EXPECT_EQ(packet.process(reply), 7);
    EXPECT_EQ(bytesOf(reply), (std::vector<unsigned char>{1, 0, 0, 0, 'u', 1, 0, 0, 0, 23, 0, 0, 0,
                                                           0, 0, 0, 0, 2, 0, 0, 0, 'h', 'i'}));
}

TEST(CWebPacket, ShortPayloadGivesInternalErrorWithoutPayload) {
    const unsigned char full[] = {7, 0, 0, 0, 5, 0, 0, 0, 'h', 'e', 'l', 'l', 'o'};
    for (unsigned n = 0; n < sizeof(full); ++n) {
        TwoFieldPacket packet(tesel::CBlob(full, n));
        packet.setUid("u");
        tesel::CBlob reply;
        EXPECT_EQ(packet.process(reply), 0) << n;
        EXPECT_EQ(bytesOf(reply), (std::vector<unsigned char>{1, 0, 0, 0, 'u', 1, 0, 0, 0, 23, 0,
                                                               0, 0, 1, 0, 0, 0}))
            << n;
    }
}
