#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "app/Settings.h"
#include "core/CBlob.h"
#include "core/TextConvert.h"
#include "errors/CError.h"
#include "server/dispatch/processPacket.h"

namespace {

using Bytes = std::vector<unsigned char>;

void put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

std::uint32_t get32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

Bytes request(const std::string& uid, std::uint32_t format, std::uint32_t command,
              const Bytes& payload = {}) {
    Bytes b;
    put32(b, static_cast<std::uint32_t>(uid.size()));
    b.insert(b.end(), uid.begin(), uid.end());
    put32(b, format);
    put32(b, command);
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

Bytes header(const std::string& uid, std::uint32_t answer, std::uint32_t result) {
    Bytes b;
    put32(b, static_cast<std::uint32_t>(uid.size()));
    b.insert(b.end(), uid.begin(), uid.end());
    put32(b, 1);
    put32(b, answer);
    put32(b, result);
    return b;
}

struct Outcome {
    int result;
    Bytes reply;
};

Outcome dispatch(const Bytes& message) {
    tesel::CBlob in(message.data(), static_cast<unsigned>(message.size()));
    tesel::CBlob out;
    const int result = processPacket(in, out);
    return {result, Bytes(out.getData(), out.getData() + out.getSize())};
}

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Strict UTF-8: no overlong forms, surrogates or code points above U+10FFFF.
bool isValidUtf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        unsigned need = 0;
        unsigned char lo = 0x80;
        unsigned char hi = 0xBF;
        if (c < 0x80) {
            need = 0;
        } else if (c >= 0xC2 && c <= 0xDF) {
            need = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            need = 2;
            if (c == 0xE0) lo = 0xA0;
            if (c == 0xED) hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            need = 3;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;
        } else {
            return false;
        }
        if (need > s.size() - i - 1) return false;
        for (unsigned k = 1; k <= need; ++k) {
            const auto d = static_cast<unsigned char>(s[i + k]);
            if (d < (k == 1 ? lo : 0x80) || d > (k == 1 ? hi : 0xBF)) return false;
        }
        i += need + 1;
    }
    return true;
}

// Restores the run-time values that a test changes.
class Dispatch : public testing::Test {
protected:
    void TearDown() override {
        setCurrentCSP(qn::crypto::CP_NONE);
        setRootCACerts(tesel::CBlob());
    }
};

}  // namespace

TEST_F(Dispatch, CurrentCspReplyIsByteExact) {
    EXPECT_EQ(getCurrentCSP(), qn::crypto::CP_NONE);
    const Outcome o = dispatch(request("x", 1, 52));
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.reply, (Bytes{0x01, 0x00, 0x00, 0x00, 0x78, 0x01, 0x00, 0x00, 0x00, 0x35, 0x00, 0x00,
                              0x00, 0x00, 0x00, 0x00, 0x00, 0xFE, 0xFF, 0xFF, 0xFF}));

    setCurrentCSP(qn::crypto::CP_CRYPTOPRO_GOST2012_256);
    EXPECT_EQ(dispatch(request("x", 1, 52)).reply, concat(header("x", 53, 0), {80, 0, 0, 0}));
}

TEST_F(Dispatch, UnknownCodesGiveAnEmptyReply) {
    for (std::uint32_t code : {15u, 30u, 154u, 0u, 57u, 17u, 53u, 13u, 0xFFFFFFFFu}) {
        const Outcome o = dispatch(request("id", 1, code, {1, 2, 3, 4}));
        EXPECT_EQ(o.result, 0) << code;
        EXPECT_TRUE(o.reply.empty()) << code;
    }
}

TEST_F(Dispatch, FormatFieldIsIgnoredAndAnsweredWithOne) {
    for (std::uint32_t format : {0u, 2u, 7u, 0xFFFFFFFFu}) {
        EXPECT_EQ(dispatch(request("f", format, 52)).reply,
                  concat(header("f", 53, 0), {0xFE, 0xFF, 0xFF, 0xFF}))
            << format;
    }
}

TEST_F(Dispatch, EmptyAndLongUidsAreEchoed) {
    EXPECT_EQ(dispatch(request("", 1, 52)).reply,
              (Bytes{0, 0, 0, 0, 1, 0, 0, 0, 53, 0, 0, 0, 0, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF}));
    const std::string uid(70000, 'u');
    EXPECT_EQ(dispatch(request(uid, 1, 52)).reply, concat(header(uid, 53, 0), {0xFE, 0xFF, 0xFF, 0xFF}));
}

TEST_F(Dispatch, PayloadOfNoPayloadCommandsIsIgnored) {
    const Bytes junk{9, 9, 9, 9, 9};
    EXPECT_EQ(dispatch(request("p", 1, 52, junk)).reply, dispatch(request("p", 1, 52)).reply);
    EXPECT_EQ(dispatch(request("p", 1, 16, junk)).reply, dispatch(request("p", 1, 16)).reply);
}

TEST_F(Dispatch, ShortEnvelopeGivesAnEmptyReply) {
    const Bytes full = request("abc", 1, 52);
    for (std::size_t n = 0; n < full.size(); ++n) {
        const Outcome o = dispatch(Bytes(full.begin(), full.begin() + static_cast<long>(n)));
        EXPECT_EQ(o.result, 0) << n;
        EXPECT_TRUE(o.reply.empty()) << n;
    }
    // A uid length beyond the end of the message.
    for (std::uint32_t length : {5u, 100u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        Bytes b;
        put32(b, length);
        put32(b, 1);
        put32(b, 52);
        const Outcome o = dispatch(b);
        EXPECT_EQ(o.result, 0) << length;
        EXPECT_TRUE(o.reply.empty()) << length;
    }
}

TEST_F(Dispatch, RootCaCertsAreStored) {
    const Bytes certs{0x30, 0x82, 0x01, 0x02, 0xAA};
    Bytes payload;
    put32(payload, static_cast<std::uint32_t>(certs.size()));
    payload.insert(payload.end(), certs.begin(), certs.end());

    const Outcome o = dispatch(request("r", 1, 14, payload));
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.reply, header("r", 15, 0));
    const tesel::CBlob stored = getRootCACerts();
    EXPECT_EQ(Bytes(stored.getData(), stored.getData() + stored.getSize()), certs);

    // An empty blob replaces them.
    EXPECT_EQ(dispatch(request("r", 1, 14, {0, 0, 0, 0})).reply, header("r", 15, 0));
    EXPECT_TRUE(getRootCACerts().isEmpty());
}

TEST_F(Dispatch, EveryTruncationOfRootCaCertsIsAnsweredSafely) {
    Bytes payload;
    put32(payload, 6);
    payload.insert(payload.end(), {1, 2, 3, 4, 5, 6});
    const Bytes full = request("t", 1, 14, payload);
    const std::size_t headerEnd = full.size() - payload.size();
    for (std::size_t n = 0; n < full.size(); ++n) {
        setRootCACerts(tesel::CBlob(full.data(), 3));
        const Outcome o = dispatch(Bytes(full.begin(), full.begin() + static_cast<long>(n)));
        EXPECT_EQ(o.result, 0) << n;
        if (n < headerEnd) {
            EXPECT_TRUE(o.reply.empty()) << n;
        } else {
            EXPECT_EQ(o.reply, header("t", 15, 1)) << n;  // internal error, no payload
        }
        EXPECT_EQ(getRootCACerts().getSize(), 3u) << n;  // nothing half-stored
    }
}

TEST_F(Dispatch, ErrorListHoldsTheWholeCatalogInUtf8) {
    const Outcome o = dispatch(request("e", 1, 16));
    ASSERT_EQ(o.result, 0);
    const Bytes head = header("e", 17, 0);
    ASSERT_GE(o.reply.size(), head.size());
    EXPECT_TRUE(std::equal(head.begin(), head.end(), o.reply.begin()));

    const auto catalog = CError::instance().getMapErrors();
    std::size_t at = head.size();
    std::vector<std::uint32_t> codes;
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (std::size_t i = head.size(); i < o.reply.size(); ++i) hash = (hash ^ o.reply[i]) * 0x100000001b3ull;
    while (at < o.reply.size()) {
        ASSERT_LE(at + 8, o.reply.size());
        const std::uint32_t code = get32(&o.reply[at]);
        const std::uint32_t length = get32(&o.reply[at + 4]);
        at += 8;
        ASSERT_LE(at + length, o.reply.size());
        const std::string text(reinterpret_cast<const char*>(&o.reply[at]), length);
        at += length;
        EXPECT_TRUE(isValidUtf8(text)) << code;
        EXPECT_EQ(text, tesel::convertToUTF8(getErrorText(static_cast<int>(code)))) << code;
        EXPECT_EQ(catalog.count(static_cast<eErrCodes>(code)), 1u) << code;
        if (!codes.empty()) {
            EXPECT_LT(codes.back(), code);
        }
        codes.push_back(code);
    }
    EXPECT_EQ(at, o.reply.size());
    ASSERT_EQ(codes.size(), 84u);
    EXPECT_EQ(codes.front(), 1u);
    EXPECT_EQ(codes.back(), 87u);
    // Every text byte for byte (fingerprint of the records).
    EXPECT_EQ(o.reply.size() - head.size(), 6705u);
    EXPECT_EQ(hash, 0xd24fa16807be2ff9ull);
    EXPECT_EQ(tesel::convertToUTF8(getErrorText(32)).substr(0, 3), "C\xD0\xB5");
}

TEST_F(Dispatch, ConcurrentRequestsGetTheirOwnReplies) {
    const Bytes expected16 = dispatch(request("a", 1, 16)).reply;
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &wrong, &expected16] {
            const std::string uid = "thread" + std::to_string(t);
            for (int i = 0; i < 200; ++i) {
                if (dispatch(request(uid, 1, 52)).reply !=
                    concat(header(uid, 53, 0), {0xFE, 0xFF, 0xFF, 0xFF})) {
                    ++wrong[t];
                }
                if (dispatch(request("a", 1, 16)).reply != expected16) ++wrong[t];
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int w : wrong) EXPECT_EQ(w, 0);
}

TEST(Settings, RunTimeValuesStartEmpty) {
    EXPECT_EQ(getRequestedCSP(), qn::crypto::CP_NONE);
    EXPECT_TRUE(getCurrentContainer().empty());
    setRequestedCSP(qn::crypto::CP_RUTOKEN_GOST2012_512);
    setCurrentContainer("container-1");
    EXPECT_EQ(getRequestedCSP(), qn::crypto::CP_RUTOKEN_GOST2012_512);
    EXPECT_EQ(getCurrentContainer(), "container-1");
    setRequestedCSP(qn::crypto::CP_NONE);
    setCurrentContainer("");
}

// Only commands that read memory skip the workers; the envelope is read
// in place and never past its end.
TEST(DispatchRouting, OnlyMemoryReadsAreAnsweredAtOnce) {
    auto blobOf = [](const Bytes& bytes, std::size_t n) {
        tesel::CBlob b;
        b.add(bytes.data(), static_cast<unsigned>(n));
        return b;
    };
    auto atOnce = [&](const Bytes& bytes) { return answeredAtOnce(blobOf(bytes, bytes.size())); };
    EXPECT_TRUE(atOnce(request("u", 0, 16)));
    EXPECT_TRUE(atOnce(request("u", 0, 52, {1, 2, 3})));
    EXPECT_TRUE(atOnce(request("u", 0, 15)));  // unknown: an empty reply
    for (std::uint32_t code : {20u, 22u, 50u, 120u, 122u}) EXPECT_FALSE(atOnce(request("u", 0, code))) << code;
    // Every cut of a waiting command's envelope gets an empty reply.
    const Bytes whole = request("uid-1", 0, 20);
    for (std::size_t n = 0; n < whole.size(); ++n) EXPECT_TRUE(answeredAtOnce(blobOf(whole, n))) << n;
    // A uid length claiming more than the message holds.
    Bytes liar;
    put32(liar, 0xfffffff0u);
    put32(liar, 0);
    put32(liar, 20);
    EXPECT_TRUE(atOnce(liar));
}
