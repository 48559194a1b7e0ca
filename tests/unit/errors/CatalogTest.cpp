#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "core/TextConvert.h"
#include "errors/CError.h"
#include "errors/CMsg.h"
#include "errors/MsgBox.h"
#include "platform/headless.h"

namespace {

// CP1251 bytes, spelled out so that the checks do not depend on the converter.
const std::string kInternalCp1251 =
    "\xCF\xF0\xEE\xE8\xE7\xEE\xF8\xEB\xE0 \xE2\xED\xF3\xF2\xF0\xE5\xED\xED\xFF\xFF "
    "\xEE\xF8\xE8\xE1\xEA\xE0.";  // "Произошла внутренняя ошибка."
const std::string kUnknownErrorCp1251 =
    "\xCD\xE5\xE8\xE7\xE2\xE5\xF1\xF2\xED\xE0\xFF \xEE\xF8\xE8\xE1\xEA\xE0";
const std::string kUnknownMsgCp1251 =
    "\xCD\xE5\xEE\xEF\xF0\xE5\xE4\xE5\xEB\xB8\xED\xED\xEE\xE5 "
    "\xF3\xE2\xE5\xE4\xEE\xEC\xEB\xE5\xED\xE8\xE5";  // "Неопределённое уведомление"

// FNV-1a over code (4 bytes LE), text length (4 bytes LE) and text of every
// entry in ascending order: a fingerprint of the whole table, byte for byte.
template <class Map>
std::pair<std::uint64_t, std::size_t> fingerprint(const Map& entries) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    std::size_t total = 0;
    auto feed = [&](unsigned char b) {
        h = (h ^ b) * 0x100000001b3ull;
        ++total;
    };
    auto feed32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) feed(static_cast<unsigned char>(v >> (8 * i)));
    };
    for (const auto& [code, text] : entries) {
        feed32(static_cast<std::uint32_t>(code));
        feed32(static_cast<std::uint32_t>(text.size()));
        for (char c : text) feed(static_cast<unsigned char>(c));
    }
    return {h, total};
}

}  // namespace

TEST(ErrorCatalog, HoldsEveryCodeInAscendingOrder) {
    const auto errors = CError::instance().getMapErrors();
    ASSERT_EQ(errors.size(), 84u);
    EXPECT_EQ(errors.begin()->first, ERR_INTERNAL);
    EXPECT_EQ(errors.rbegin()->first, ERR_CHAIN_REVOKED);
    for (int absent : {0, 36, 37, 84}) EXPECT_EQ(errors.count(static_cast<eErrCodes>(absent)), 0u);
    for (const auto& [code, text] : errors) EXPECT_FALSE(text.empty()) << code;
}

TEST(ErrorCatalog, TextsAreByteExact) {
    // Fingerprint of the CP1251 table of all 84 entries.
    const auto [hash, size] = fingerprint(CError::instance().getMapErrors());
    EXPECT_EQ(size, 3911u);
    EXPECT_EQ(hash, 0x28554a29889fc53bull);

    EXPECT_EQ(getErrorText(ERR_INTERNAL), kInternalCp1251);
    // "ё" is byte B8 in CP1251.
    EXPECT_EQ(getErrorText(ERR_CHAIN_EXPIRED),
              "\xD1\xF0\xEE\xEA \xE4\xE5\xE9\xF1\xF2\xE2\xE8\xFF \xEE\xE4\xED\xEE\xE3\xEE \xE8\xE7 "
              "\xF1\xE5\xF0\xF2\xE8\xF4\xE8\xEA\xE0\xF2\xEE\xE2 \xE2 \xF6\xE5\xEF\xEE\xF7\xEA\xE5 "
              "\xE8\xF1\xF2\xB8\xEA");
}

TEST(ErrorCatalog, Code32StartsWithLatinC) {
    const std::string text = getErrorText(ERR_SERVER_UNKNOWN_CODE);
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text[0], 'C');
    EXPECT_EQ(static_cast<unsigned char>(text[1]), 0xE5);  // Cyrillic "е"
}

TEST(ErrorCatalog, LineBreaksAreSingleLineFeeds) {
    for (const auto& [code, text] : CError::instance().getMapErrors()) {
        EXPECT_EQ(text.find('\r'), std::string::npos) << code;
    }
    const std::string six = getErrorText(ERR_UNKNOWN_HEADER);
    EXPECT_EQ(six, tesel::convertFromUTF8("Пакет данных повреждён.\nНеизвестный заголовок."));
    int breaks = 0;
    for (int code : {6, 8, 30, 31, 41, 68, 69, 76}) {
        const std::string t = getErrorText(code);
        breaks += static_cast<int>(std::count(t.begin(), t.end(), '\n'));
    }
    EXPECT_EQ(breaks, 8);
}

TEST(ErrorCatalog, UnknownCodesGiveTheUnknownText) {
    for (int code : {0, 36, 37, 84, 88, 1000, -1}) EXPECT_EQ(getErrorText(code), kUnknownErrorCp1251);
    EXPECT_EQ(CError::instance().getText(static_cast<eErrCodes>(36)), kUnknownErrorCp1251);
}

TEST(ErrorCatalog, FirstPushedTextWinsAndInitKeepsEntries) {
    CError& catalog = CError::instance();
    catalog.push(ERR_INTERNAL, "replacement");
    EXPECT_EQ(catalog.getText(ERR_INTERNAL), kInternalCp1251);
    EXPECT_EQ(catalog.init(), 0);
    EXPECT_EQ(catalog.getMapErrors().size(), 84u);
}

TEST(ErrorCatalog, GlobalPointersAreTheSingletons) {
    EXPECT_EQ(pGlbError, &CError::instance());
    EXPECT_EQ(pGlbMsg, &CMsg::instance());
}

TEST(ErrorCatalog, ConcurrentReadersSeeTheSameTexts) {
    std::vector<std::thread> readers;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([t, &mismatches] {
            for (int i = 0; i < 2000; ++i) {
                if (getErrorText(1) != kInternalCp1251) ++mismatches[t];
                if (getMsgText(19) != kUnknownMsgCp1251) ++mismatches[t];
            }
        });
    }
    for (auto& r : readers) r.join();
    for (int m : mismatches) EXPECT_EQ(m, 0);
}

TEST(MsgCatalog, HoldsEveryNoticeByteExact) {
    const auto notices = CMsg::instance().getMapMessages();
    ASSERT_EQ(notices.size(), 22u);
    EXPECT_EQ(notices.begin()->first, MSG_CARD_SAVED);
    EXPECT_EQ(notices.rbegin()->first, MSG_TWO_CONTAINERS);
    EXPECT_EQ(notices.count(static_cast<eMsgCode>(19)), 0u);
    const auto [hash, size] = fingerprint(notices);
    EXPECT_EQ(size, 1151u);
    EXPECT_EQ(hash, 0x6c3eb7f6c4f9b221ull);

    const std::string two = getMsgText(MSG_TWO_CONTAINERS);
    EXPECT_EQ(std::count(two.begin(), two.end(), '\n'), 2);
}

TEST(MsgCatalog, UnknownCodesGiveTheUndefinedText) {
    for (int code : {19, 23, -1, 500}) EXPECT_EQ(getMsgText(code), kUnknownMsgCp1251);
    CMsg::instance().push(MSG_SETTINGS_SAVED, "other");
    EXPECT_EQ(getMsgText(MSG_SETTINGS_SAVED), tesel::convertFromUTF8("Настройки сохранены."));
}

TEST(MsgBox, CaptionsByVariant) {
    EXPECT_EQ(getCaption(tesel::QN_UNSPECIFIED), "Quorin");
    EXPECT_EQ(getCaption(tesel::QN_CLIENT), "Quorin");
    EXPECT_EQ(getCaption(tesel::QN_PARTNER), "Quorin. \xCF\xE0\xF0\xF2\xED\xB8\xF0");
    EXPECT_EQ(getCaption(tesel::QN_CA), "Quorin. \xD3\xD6");
    EXPECT_EQ(getCaption(tesel::QN_PLUGIN), "Pellamo Plugin");
    EXPECT_EQ(getCaption(static_cast<tesel::eQuorinType>(9)), "Quorin");
    EXPECT_EQ(getCaption(static_cast<tesel::eQuorinType>(-1)), "Quorin");
}

TEST(MsgBox, BoxesShowCatalogTextWithTheVariantCaption) {
    // Without a desktop a box is written to the standard error stream in UTF-8.
    testing::internal::CaptureStderr();
    EXPECT_EQ(msgError(nullptr, ERR_INTERNAL, tesel::QN_PLUGIN), IDOK);
    std::string out = testing::internal::GetCapturedStderr();
    EXPECT_NE(out.find("Pellamo Plugin"), std::string::npos) << out;
    EXPECT_NE(out.find("Произошла внутренняя ошибка."), std::string::npos) << out;

    testing::internal::CaptureStderr();
    EXPECT_EQ(msgInfo(nullptr, MSG_SETTINGS_SAVED, tesel::QN_PARTNER), IDOK);
    out = testing::internal::GetCapturedStderr();
    EXPECT_NE(out.find("Quorin. Партнёр"), std::string::npos) << out;
    EXPECT_NE(out.find("Настройки сохранены."), std::string::npos) << out;
}

TEST(MsgBox, QuestionReturnsTheAnswer) {
    // Nobody is asked when standard input is not a terminal: the configured
    // default answers.
    ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);
    platform::setDefaultQuestionAnswer(IDYES);
    testing::internal::CaptureStderr();
    EXPECT_EQ(msgQuestion(nullptr, tesel::convertFromUTF8("Обновить?"), tesel::QN_PLUGIN), IDYES);
    const std::string out = testing::internal::GetCapturedStderr();
    EXPECT_NE(out.find("Pellamo Plugin"), std::string::npos) << out;
    EXPECT_NE(out.find("Обновить?"), std::string::npos) << out;
    platform::setDefaultQuestionAnswer(IDNO);
    testing::internal::CaptureStderr();
    EXPECT_EQ(msgQuestion(nullptr, "?", tesel::QN_PLUGIN), IDNO);
    testing::internal::GetCapturedStderr();
}
