#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/CBlob.h"

using tesel::BLOB;
using tesel::CBlob;

namespace {

CBlob bytes(std::vector<unsigned char> v) { return CBlob(v.data(), static_cast<unsigned>(v.size())); }

std::vector<unsigned char> contents(const CBlob& b) {
    return std::vector<unsigned char>(b.getData(), b.getData() + b.getSize());
}

SYSTEMTIME sampleTime() {
    SYSTEMTIME st{};
    st.wYear = 2024;
    st.wMonth = 3;
    st.wDayOfWeek = 2;
    st.wDay = 5;
    st.wHour = 9;
    st.wMinute = 7;
    st.wSecond = 3;
    st.wMilliseconds = 0x1234;
    return st;
}

}  // namespace

TEST(CBlobEncoding, FieldsAreLittleEndianAndLengthPrefixed) {
    const std::string ab = "AB";
    const SYSTEMTIME st = sampleTime();
    CBlob inner = bytes({0xAA, 0xBB});
    const unsigned total = CBlob::sizeOfInt() * 2 + 1 + CBlob::sizeOf(ab) + CBlob::sizeOf(std::string()) +
                           CBlob::sizeOf(inner) + CBlob::sizeOfSystemTime() + 3;
    CBlob b(total);
    b.serialize(0x01020304u);
    b.serialize(-2);
    b.serialize(true);
    b << ab << std::string();
    b << inner;
    b.serialize(&st);
    b.serialize("xyz", 3);
    ASSERT_TRUE(b.isCompleted());
    ASSERT_FALSE(b.isMalformed());
    const std::vector<unsigned char> expected = {
        0x04, 0x03, 0x02, 0x01,                          // unsigned
        0xFE, 0xFF, 0xFF, 0xFF,                          // int -2
        0x01,                                            // bool
        0x02, 0x00, 0x00, 0x00, 'A', 'B',                // "AB"
        0x00, 0x00, 0x00, 0x00,                          // ""
        0x02, 0x00, 0x00, 0x00, 0xAA, 0xBB,              // nested blob
        0x10, 0x00, 0x00, 0x00,                          // SYSTEMTIME length 16
        0xE8, 0x07, 0x03, 0x00, 0x02, 0x00, 0x05, 0x00,  // year month dow day
        0x09, 0x00, 0x07, 0x00, 0x03, 0x00, 0x34, 0x12,  // hour min sec ms
        'x', 'y', 'z'};
    EXPECT_EQ(contents(b), expected);

    CBlob r(b.getData(), b.getSize());
    unsigned u = 0;
    int i = 0;
    bool flag = false;
    std::string s1, s2;
    CBlob nested;
    SYSTEMTIME back{};
    char raw[3];
    r.deserialize(u);
    r.deserialize(i);
    r.deserialize(flag);
    r >> &s1 >> &s2 >> &nested;
    r.deserialize(&back);
    r.deserialize(raw, 3);
    EXPECT_EQ(u, 0x01020304u);
    EXPECT_EQ(i, -2);
    EXPECT_TRUE(flag);
    EXPECT_EQ(s1, "AB");
    EXPECT_EQ(s2, "");
    EXPECT_EQ(nested, inner);
    EXPECT_EQ(nested.getOffset(), 0u);
    EXPECT_EQ(std::memcmp(&back, &st, sizeof st), 0);
    EXPECT_EQ(std::string(raw, 3), "xyz");
    EXPECT_TRUE(r.isCompleted());
    EXPECT_FALSE(r.isMalformed());
}

TEST(CBlobEncoding, BlobViewAndFreeSerialize) {
    CBlob inner = bytes({1, 2, 3});
    const BLOB view = inner.getBLOB();
    EXPECT_EQ(view.cbData, 3u);
    EXPECT_EQ(view.pbData, inner.getData());
    CBlob b(7);
    b << view;
    EXPECT_EQ(contents(b), (std::vector<unsigned char>{3, 0, 0, 0, 1, 2, 3}));

    CBlob s = tesel::serialize(std::string("AB"));
    EXPECT_EQ(contents(s), (std::vector<unsigned char>{2, 0, 0, 0, 'A', 'B'}));
    EXPECT_EQ(s.getOffset(), s.getSize());
}

TEST(CBlobConstruction, CopyKeepsOffsetAssignmentResetsIt) {
    CBlob src = bytes({1, 2, 3, 4, 5, 6});
    src.forwardOffset(4);
    CBlob copied(src);
    EXPECT_EQ(copied.getOffset(), 4u);
    EXPECT_EQ(copied, src);
    EXPECT_NE(copied.getData(), src.getData());
    CBlob assigned;
    assigned = src;
    EXPECT_EQ(assigned.getOffset(), 0u);
    EXPECT_EQ(assigned, src);

    assigned = assigned;  // self-assignment changes nothing
    EXPECT_EQ(assigned, src);

    // operator== ignores offsets.
    CBlob other = bytes({1, 2, 3, 4, 5, 6});
    EXPECT_TRUE(other == src);
    EXPECT_FALSE(other == bytes({1, 2, 3, 4, 5}));
    EXPECT_TRUE(CBlob() == CBlob());
}

TEST(CBlobConstruction, InitWithOwnPointerIsNoOp) {
    CBlob b = bytes({9, 8, 7});
    b.forwardOffset(2);
    unsigned char* own = b.getData();
    b.init(own, 3);
    EXPECT_EQ(b.getData(), own);
    EXPECT_EQ(b.getOffset(), 2u);
    EXPECT_EQ(contents(b), (std::vector<unsigned char>{9, 8, 7}));

    // A pointer into the middle of the own block is copied safely.
    b.init(own + 1, 2);
    EXPECT_EQ(contents(b), (std::vector<unsigned char>{8, 7}));
    EXPECT_EQ(b.getOffset(), 0u);

    CBlob c;
    c.init(&b);
    EXPECT_EQ(c, b);
    BLOB v = b.getBLOB();
    CBlob d(&v);
    EXPECT_EQ(d, b);
    c.clear();
    EXPECT_TRUE(c.isEmpty());
    EXPECT_EQ(c.getData(), nullptr);
    EXPECT_EQ(c.getOffset(), 0u);
}

TEST(CBlobConstruction, TailConstructor) {
    std::vector<unsigned char> v(80);
    for (unsigned i = 0; i < v.size(); ++i) v[i] = static_cast<unsigned char>(i);
    CBlob src(v.data(), 80);
    CBlob tail(src, 8, 8);
    ASSERT_EQ(tail.getSize(), 72u);
    EXPECT_EQ(tail[0], 8);
    EXPECT_EQ(tail[71], 79);
    CBlob noTrailer(src, 8, 72);
    ASSERT_EQ(noTrailer.getSize(), 8u);
    EXPECT_EQ(noTrailer[0], 8);
    EXPECT_EQ(noTrailer[7], 15);
    EXPECT_FALSE(noTrailer.isMalformed());

    // A range outside the source gives an empty, malformed blob.
    CBlob tooShort = bytes({1, 2, 3});
    CBlob bad1(tooShort, 8, 8);
    EXPECT_TRUE(bad1.isEmpty());
    EXPECT_TRUE(bad1.isMalformed());
    CBlob bad2(src, 8, 100);
    EXPECT_TRUE(bad2.isMalformed());
    CBlob bad3(src, 10, 4);  // exclude < start would read past the end
    EXPECT_TRUE(bad3.isMalformed());
    // Assignment carries the mark: a malformed slice stays untrusted.
    CBlob slice;
    slice = CBlob(tooShort, 8, 72);
    EXPECT_TRUE(slice.isMalformed());
}

TEST(CBlobGrowing, AddAndAppend) {
    CBlob b = bytes({1, 2});
    b.forwardOffset(1);
    const unsigned char more[] = {3, 4};
    b.add(more, 2);
    EXPECT_EQ(contents(b), (std::vector<unsigned char>{1, 2, 3, 4}));
    EXPECT_EQ(b.getOffset(), 1u);  // add never moves the cursor
    b.add(bytes({5}));
    CBlob six = bytes({6});
    b.add(&six);
    EXPECT_EQ(contents(b), (std::vector<unsigned char>{1, 2, 3, 4, 5, 6}));

    CBlob a = bytes({7});
    a.append(CBlob());
    EXPECT_EQ(contents(a), (std::vector<unsigned char>{7, 0, 0, 0, 0}));
    EXPECT_EQ(a.getOffset(), a.getSize());
    a.append(bytes({0xAB}));
    EXPECT_EQ(contents(a), (std::vector<unsigned char>{7, 0, 0, 0, 0, 1, 0, 0, 0, 0xAB}));
    EXPECT_TRUE(a.isCompleted());

    CBlob empty;
    empty.add(nullptr, 0);
    empty.add(CBlob());
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_FALSE(empty.isMalformed());
}

TEST(CBlobGrowing, SelfAddAndSelfAppend) {
    CBlob b = bytes({1, 2, 3});
    b.add(b);
    EXPECT_EQ(contents(b), (std::vector<unsigned char>{1, 2, 3, 1, 2, 3}));
    b.add(b.getData() + 4, 2);  // from our own block, which realloc may move
    EXPECT_EQ(contents(b), (std::vector<unsigned char>{1, 2, 3, 1, 2, 3, 2, 3}));

    CBlob c = bytes({9, 8});
    c.append(c);
    EXPECT_EQ(contents(c), (std::vector<unsigned char>{9, 8, 2, 0, 0, 0, 9, 8}));
    EXPECT_EQ(c.getOffset(), 8u);

    // A source range that runs past our own end is refused.
    CBlob d = bytes({1, 2, 3});
    d.add(d.getData() + 2, 5);
    EXPECT_TRUE(d.isMalformed());
    EXPECT_EQ(d.getSize(), 3u);
}

// Growing past the large-block size and shrinking again keep the bytes in
// front; the cursor never stays behind the end.
TEST(CBlobGrowing, ResizeKeepsThePrefixAndClampsTheCursor) {
    CBlob b = bytes({1, 2, 3, 4});
    b.moveOffset(4);
    b.resize(2);
    EXPECT_EQ(contents(b), (std::vector<unsigned char>{1, 2}));
    EXPECT_EQ(b.getOffset(), 2u);

    const unsigned large = 6u << 20;
    b.resize(large);
    ASSERT_EQ(b.getSize(), large);
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(b[1], 2);
    b[large - 1] = 0x5a;
    b.resize(large + 4096);
    EXPECT_EQ(b[large - 1], 0x5a);
    b.resize(3);
    EXPECT_EQ(b.getSize(), 3u);
    EXPECT_EQ(b[1], 2);
    EXPECT_FALSE(b.isMalformed());

    b.markMalformed();
    b.resize(0);
    EXPECT_TRUE(b.isEmpty());
    EXPECT_EQ(b.getOffset(), 0u);
    EXPECT_TRUE(b.isMalformed()) << "the mark is not cleared by resizing";
}

TEST(CBlobWriting, WritesPastTheEndAreRefused) {
    CBlob b(6);
    std::memset(b.getData(), 0xEE, 6);
    b.serialize(1u);
    b.serialize(std::string("AB"));  // needs 6, only 2 left
    EXPECT_TRUE(b.isMalformed());
    EXPECT_EQ(b.getOffset(), 4u);
    EXPECT_EQ(b[4], 0xEE);  // nothing partial was written
    EXPECT_EQ(b[5], 0xEE);
    b.serialize(true);  // sticky: even a write that fits is refused now
    EXPECT_EQ(b[4], 0xEE);

    CBlob c(19);
    const SYSTEMTIME st = sampleTime();
    c.serialize(&st);
    EXPECT_TRUE(c.isMalformed());
    EXPECT_EQ(c.getOffset(), 0u);

    CBlob d(3);
    d.serialize(bytes({1, 2}).getData(), 2);
    d << bytes({1});  // needs 5
    EXPECT_TRUE(d.isMalformed());

    CBlob e;
    e.serialize(0u);
    EXPECT_TRUE(e.isMalformed());
}

TEST(CBlobWriting, CopyBetweenBlobs) {
    CBlob dst = bytes({0, 0, 0, 0});
    CBlob src = bytes({1, 2, 3});
    dst.forwardOffset(1);
    src.forwardOffset(2);
    dst.copy(1, &src, 1, 2);
    EXPECT_EQ(contents(dst), (std::vector<unsigned char>{0, 2, 3, 0}));
    EXPECT_EQ(dst.getOffset(), 1u);
    EXPECT_EQ(src.getOffset(), 2u);
    dst.copy(0, &dst, 1, 3);  // overlapping copy within one blob
    EXPECT_EQ(contents(dst), (std::vector<unsigned char>{2, 3, 0, 0}));
    EXPECT_FALSE(dst.isMalformed());
    dst.copy(3, &src, 0, 2);  // past the end of dst
    EXPECT_TRUE(dst.isMalformed());
    EXPECT_EQ(contents(dst), (std::vector<unsigned char>{2, 3, 0, 0}));
    CBlob dst2(4);
    dst2.copy(0, &src, 2, 2);  // past the end of src
    EXPECT_TRUE(dst2.isMalformed());
}

TEST(CBlobReading, TruncatedIntegersAndBools) {
    CBlob b = bytes({1, 2, 3});
    unsigned u = 99;
    b >> u;
    EXPECT_EQ(u, 0u);
    EXPECT_TRUE(b.isMalformed());
    EXPECT_EQ(b.getOffset(), 0u);

    CBlob e;
    bool flag = true;
    e.deserialize(flag);
    EXPECT_FALSE(flag);
    EXPECT_TRUE(e.isMalformed());

    CBlob raw = bytes({1, 2});
    unsigned char out[4] = {9, 9, 9, 9};
    raw.deserialize(out, 4);
    EXPECT_EQ(std::vector<unsigned char>(out, out + 4), (std::vector<unsigned char>{0, 0, 0, 0}));
    EXPECT_TRUE(raw.isMalformed());
}

TEST(CBlobReading, LengthLargerThanTheRest) {
    // Length 5 but only 3 bytes follow.
    CBlob s = bytes({5, 0, 0, 0, 'a', 'b', 'c'});
    std::string text = "old";
    s >> &text;
    EXPECT_EQ(text, "");
    EXPECT_TRUE(s.isMalformed());

    // A huge length must not wrap around the bounds check.
    CBlob huge = bytes({0xFF, 0xFF, 0xFF, 0xFF, 'a'});
    huge >> &text;
    EXPECT_TRUE(huge.isMalformed());
    CBlob huge2 = bytes({0xFD, 0xFF, 0xFF, 0xFF, 'a'});
    CBlob target = bytes({1});
    huge2 >> &target;
    EXPECT_TRUE(huge2.isMalformed());
    EXPECT_TRUE(target.isEmpty());

    // A truncated length itself.
    CBlob shortLen = bytes({1, 0});
    shortLen >> &text;
    EXPECT_TRUE(shortLen.isMalformed());
}

// A view shows the field's bytes where they lie; a field that runs past the
// end gives nothing and marks the blob, like a copying read.
TEST(CBlobReading, ViewsPointIntoTheBlob) {
    CBlob b = bytes({3, 0, 0, 0, 7, 8, 9, 0, 0, 0, 0, 9, 0, 0, 0, 1});
    BLOB view{1, nullptr};
    b.deserializeView(view);
    ASSERT_EQ(view.cbData, 3u);
    EXPECT_EQ(view.pbData, b.getData() + 4);
    b.deserializeView(view);
    EXPECT_EQ(view.cbData, 0u);
    EXPECT_EQ(view.pbData, nullptr);
    EXPECT_FALSE(b.isMalformed());
    b.deserializeView(view);  // claims 9 bytes, 1 is left
    EXPECT_TRUE(b.isMalformed());
    EXPECT_EQ(view.cbData, 0u);
    EXPECT_EQ(view.pbData, nullptr);
    b.deserializeView(view);
    EXPECT_EQ(view.pbData, nullptr);
}

TEST(CBlobReading, SystemTimeLengthMustBe16) {
    const SYSTEMTIME st = sampleTime();
    CBlob good(CBlob::sizeOfSystemTime());
    good.serialize(&st);
    good.moveOffset(0);

    for (unsigned len : {0u, 15u, 17u, 32u}) {
        CBlob bad(4 + 32);
        std::memset(bad.getData(), 0x11, bad.getSize());
        bad.serialize(len);
        bad.moveOffset(0);
        SYSTEMTIME out = sampleTime();
        bad.deserialize(&out);
        EXPECT_TRUE(bad.isMalformed()) << len;
        EXPECT_EQ(out.wYear, 0) << len;
        EXPECT_EQ(out.wMilliseconds, 0) << len;
    }

    // Length 16 but the structure is cut short.
    CBlob cut(good, 0, 1);
    SYSTEMTIME out{};
    cut.deserialize(&out);
    EXPECT_TRUE(cut.isMalformed());
    EXPECT_EQ(out.wYear, 0);
}

TEST(CBlobReading, MalformedFlagSticks) {
    CBlob b = bytes({2, 0, 0, 0, 'h', 'i', 7, 0, 0, 0});
    std::string s;
    unsigned u = 0;
    b.deserialize(nullptr, 11);  // fails: only 10 bytes
    EXPECT_TRUE(b.isMalformed());
    b >> &s >> u;  // would fit, but the record is already broken
    EXPECT_EQ(s, "");
    EXPECT_EQ(u, 0u);
    EXPECT_FALSE(b.isCompleted());

    const unsigned char marker[] = {2, 0};
    EXPECT_FALSE(b.deserializeCompare(marker, 2));

    // The copy constructor carries the mark; new contents clear it.
    CBlob copy(b);
    EXPECT_TRUE(copy.isMalformed());
    copy.init(marker, 2);
    EXPECT_FALSE(copy.isMalformed());
    b.allocate(4);
    EXPECT_FALSE(b.isMalformed());
    b.markMalformed();
    b.clear();
    EXPECT_FALSE(b.isMalformed());
}

TEST(CBlobReading, NestedBlobIntoItself) {
    CBlob b = bytes({2, 0, 0, 0, 0xAB, 0xCD, 0xEF});
    b >> &b;
    EXPECT_EQ(contents(b), (std::vector<unsigned char>{0xAB, 0xCD}));
    EXPECT_EQ(b.getOffset(), 0u);
    EXPECT_FALSE(b.isMalformed());
}

TEST(CBlobReading, CompareAndIsEqual) {
    CBlob b = bytes({'Q', 'N', 1, 2});
    const unsigned char qn[] = {'Q', 'N'};
    const unsigned char xx[] = {'X', 'X'};
    EXPECT_TRUE(b.isEqual(qn, 2));
    EXPECT_EQ(b.getOffset(), 0u);
    EXPECT_FALSE(b.isEqual(xx, 2));
    EXPECT_EQ(b.getOffset(), 0u);
    EXPECT_TRUE(b.deserializeCompare(qn, 2));
    EXPECT_EQ(b.getOffset(), 2u);
    EXPECT_FALSE(b.deserializeCompare(xx, 2));  // advances even on a mismatch
    EXPECT_EQ(b.getOffset(), 4u);
    EXPECT_TRUE(b.isCompleted());
    EXPECT_FALSE(b.isMalformed());
    EXPECT_FALSE(b.isEqual(qn, 2));  // nothing left to compare with
    EXPECT_FALSE(b.deserializeCompare(qn, 2));
    EXPECT_TRUE(b.isMalformed());
}

TEST(CBlobReading, CompletedOnlyWhenEverythingConsumed) {
    CBlob b = bytes({1, 0, 0, 0, 0xFF});
    unsigned u = 0;
    b >> u;
    EXPECT_FALSE(b.isCompleted());
    bool flag = false;
    b.deserialize(flag);
    EXPECT_TRUE(flag);
    EXPECT_TRUE(b.isCompleted());
}

TEST(CBlobReading, CursorMovedPastTheEnd) {
    CBlob b = bytes({1, 2, 3, 4});
    b.moveOffset(10);
    EXPECT_EQ(b.remaining(), 0u);
    unsigned u = 7;
    b >> u;
    EXPECT_EQ(u, 0u);
    EXPECT_TRUE(b.isMalformed());

    CBlob c = bytes({1, 2, 3, 4});
    c.forwardOffset(2);
    c.forwardOffset(0xFFFFFFFFu);  // would wrap around
    EXPECT_TRUE(c.isMalformed());
}

TEST(CBlobInspection, IndexOutOfRangeStaysInside) {
    CBlob b = bytes({5, 6});
    EXPECT_EQ(b[1], 6);
    b[1] = 7;
    EXPECT_EQ(b[1], 7);
    b[2] = 1;  // out of range: a scratch byte is written, not the heap
    EXPECT_TRUE(b.isMalformed());
    const CBlob& cb = b;
    EXPECT_EQ(cb[100], 0);
    EXPECT_EQ(contents(b), (std::vector<unsigned char>{5, 7}));
}

TEST(CBlobInspection, ToHexStringReversesBytes) {
    EXPECT_EQ(bytes({0x00, 0xFF, 0x10}).toHexString(), "10FF00");
    EXPECT_EQ(bytes({0x01, 0x02, 0x0A}).toHexString(), "0A0201");
    EXPECT_EQ(CBlob().toHexString(), "");
    EXPECT_EQ(bytes({0xab}).toHexString(), "AB");
}
