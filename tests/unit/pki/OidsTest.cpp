#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "pki/COids.h"
#include "pki/eTypeSubject.h"

using namespace tesel;

TEST(COids, LooksUpEveryTableEntryAndNothingElse) {
    EXPECT_EQ(COids::getOID("2.5.4.3"), OID_COMMON_NAME);
    EXPECT_EQ(COids::getOID("2.5.4.3"), 13);
    EXPECT_EQ(COids::getEnhKeyOID("1.2.643.6.3.1.2.2"), 10);
    EXPECT_EQ(COids::getAlgorithmOID("1.2.643.2.2.35.1"), 3);

    EXPECT_EQ(COids::getOID("2.5.4.3 "), -1);
    EXPECT_EQ(COids::getOID(""), -1);
    EXPECT_EQ(COids::getOID(static_cast<const char*>(nullptr)), -1);
    EXPECT_EQ(COids::getEnhKeyOID("1.3.6.1.5.5.7.3.3"), -1);
    EXPECT_EQ(COids::getAlgorithmOID("1.2.643.7.1.1.1.1"), -1);
    // Enumerations are not mixed up: an eOID text is no purpose.
    EXPECT_EQ(COids::getEnhKeyOID("2.5.29.37"), -1);

    for (int i = 0; i < kOIDCount; ++i) EXPECT_EQ(COids::getOID(eOIDString[i]), i);
    for (int i = 0; i < kEnhKeyCount; ++i) EXPECT_EQ(COids::getEnhKeyOID(eEnhKeyString[i]), i);
    for (int i = 0; i < qn::crypto::kAlgorithmOIDCount; ++i)
        EXPECT_EQ(COids::getAlgorithmOID(qn::crypto::eAlgorithmOIDString[i]), i);
}

TEST(COids, TablesHoldTheFixedValues) {
    // A wrong row would shift every following value in stored cards.
    EXPECT_STREQ(eOIDString[0], "1.2.643.2.4.1.1.1.1.2");
    EXPECT_STREQ(eOIDString[4], "1.2.643.100.5");
    EXPECT_STREQ(eOIDString[10], "1.2.840.113549.1.9.15");
    EXPECT_STREQ(eOIDString[11], "1.2.840.113549.1.9.14");
    EXPECT_STREQ(eOIDString[26], "2.5.29.37");
    EXPECT_STREQ(eEnhKeyString[0], "1.3.6.1.5.5.7.3.1");
    EXPECT_STREQ(eEnhKeyString[26], "1.2.643.2.64.1.1.1");
    EXPECT_STREQ(eEnhKeyString[33], "1.2.643.2.2.34.25");
    EXPECT_STREQ(eEnhKeyString[35], "1.2.643.2.2.34.6");
    EXPECT_STREQ(eEnhKeyString[51], "1.2.643.5.1.24.2.1.3.1");
    EXPECT_STREQ(eEnhKeyString[55], "1.2.643.5.1.24.2.43");
    EXPECT_STREQ(qn::crypto::eAlgorithmOIDString[4], "1.2.643.2.2.30.1");

    std::set<std::string> distinct(eEnhKeyString, eEnhKeyString + kEnhKeyCount);
    EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kEnhKeyCount));
}

TEST(COids, LabelsAreCp1251AndMissingForTheLastTwo) {
    // "Аутентификация клиента" in CP1251.
    EXPECT_STREQ(eEnhKeyDescString[1],
                 "\xC0\xF3\xF2\xE5\xED\xF2\xE8\xF4\xE8\xEA\xE0\xF6\xE8\xFF "
                 "\xEA\xEB\xE8\xE5\xED\xF2\xE0");
    // Two blanks before the last word of rows 23 and 24.
    EXPECT_NE(std::strstr(eEnhKeyDescString[23], "  \xCE\xC3\xC2"), nullptr);
    EXPECT_NE(std::strstr(eEnhKeyDescString[24], "  \xCE\xCC\xD1"), nullptr);
    EXPECT_STREQ(getEnhKeyDesc(53), eEnhKeyDescString[53]);
    EXPECT_STREQ(getEnhKeyDesc(54), "");
    EXPECT_STREQ(getEnhKeyDesc(55), "");
    EXPECT_STREQ(getEnhKeyDesc(-1), "");
    EXPECT_STREQ(getEnhKeyString(56), "");
    EXPECT_STREQ(getOIDString(27), "");

    // Labels with web addresses: "ЭП для ЭТП " + address; disclosure rows:
    // words, service name in double quotes, address in parentheses.
    const char* etpPrefix = "\xDD\xCF \xE4\xEB\xFF \xDD\xD2\xCF ";
    for (int row : {4, 5}) {
        const std::string label = eEnhKeyDescString[row];
        EXPECT_EQ(label.rfind(etpPrefix, 0), 0u) << row;
        EXPECT_GT(label.size(), std::strlen(etpPrefix) + 3) << row;
    }
    for (int row = 27; row <= 31; ++row) {
        const std::string label = eEnhKeyDescString[row];
        EXPECT_EQ(label.rfind("\xD0\xE0\xF1\xEA\xF0\xFB\xF2\xE8\xE5 "
                              "\xE8\xED\xF4\xEE\xF0\xEC\xE0\xF6\xE8\xE8 \"",
                              0),
                  0u)
            << row;
        EXPECT_EQ(label.back(), ')') << row;
        EXPECT_NE(label.find("\" ("), std::string::npos) << row;
    }
}

TEST(eTypeSubject, DisplayNames) {
    EXPECT_STREQ(eTypeSubjectString[0],
                 "\xDE\xF0\xE8\xE4\xE8\xF7\xE5\xF1\xEA\xEE\xE5 \xEB\xE8\xF6\xEE");
    EXPECT_STREQ(eTypeSubjectString[1], "\xD4\xE8\xE7\xE8\xF7\xE5\xF1\xEA\xEE\xE5 \xEB\xE8\xF6\xEE");
    EXPECT_STREQ(getTypeSubjectString(2), eTypeSubjectString[2]);
    EXPECT_STREQ(getTypeSubjectString(-1), "");
    EXPECT_STREQ(getTypeSubjectString(3), "");
}

TEST(COids, SingletonCreatedOnceUnderConcurrentFirstUse) {
    constexpr int kThreads = 8;
    std::atomic<int> ready{0};
    std::vector<const COids*> seen(kThreads);
    std::vector<int> results(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) {
            }
            seen[t] = &COids::instance();
            results[t] = COids::getEnhKeyOID("1.2.643.6.7");
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(seen[t], seen[0]);
        EXPECT_EQ(results[t], 3);
    }
}
