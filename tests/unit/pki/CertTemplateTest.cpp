#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "pki/CCertTemplate.h"

using namespace tesel;

namespace {

std::vector<eEnhKeyOID> oids(std::initializer_list<int> values) {
    std::vector<eEnhKeyOID> out;
    for (int v : values) out.push_back(static_cast<eEnhKeyOID>(v));
    return out;
}

const std::vector<int> kCommon = {1, 2, 33, 34, 35};

std::vector<eEnhKeyOID> common(std::initializer_list<int> extra) {
    std::vector<eEnhKeyOID> out;
    for (int v : kCommon) out.push_back(static_cast<eEnhKeyOID>(v));
    for (int v : extra) out.push_back(static_cast<eEnhKeyOID>(v));
    return out;
}

}  // namespace

TEST(CCertTemplate, NamesInCp1251) {
    const CCertTemplate& c = CCertTemplate::instance();
    EXPECT_EQ(c.getNames().size(), 13u);
    EXPECT_EQ(c.getName(CT_STANDARD), "\xD1\xF2\xE0\xED\xE4\xE0\xF0\xF2");
    EXPECT_EQ(c.getName(CT_B2B_ARCHIVE), "B2B_\xC0\xF0\xF5\xE8\xE2");
    EXPECT_EQ(c.getName(CT_STANDARD_DISCLOSURE),
              "\xD1\xF2\xE0\xED\xE4\xE0\xF0\xF2(+\xD0\xE0\xF1\xEA\xF0\xFB\xF2\xE8\xE5)");
    EXPECT_EQ(c.getName(CT_PACKAGE_GOSTORGI), "\xCF\xE0\xEA\xE5\xF2 \xC3\xCE\xD1\xD2\xCE\xD0\xC3\xC8");
    EXPECT_EQ(c.getName(static_cast<eCertTemplate>(13)), "");
}

TEST(CCertTemplate, PurposeListsInRegistrationOrder) {
    const auto& p = CCertTemplate::instance().getTemplatePurposes();
    // 0, 6, 1, 2, 11, 12 once each; 3, 4, 7, 9 per subject.
    EXPECT_EQ(p.size(), 6u + 4u * 3u);
    using Key = CCertTemplate::CertTemplateSetOids;
    EXPECT_EQ(p.at(Key{CT_STANDARD, TS_ANY}), common({}));
    EXPECT_EQ(p.at(Key{CT_STANDARD_DISCLOSURE, TS_ANY}), common({28, 31, 27, 30, 29, 26}));
    EXPECT_EQ(p.at(Key{CT_B2B_ARCHIVE, TS_ANY}), common({3}));
    EXPECT_EQ(p.at(Key{CT_COMMERCIAL, TS_ANY}), common({5, 6, 3, 7, 32}));
    EXPECT_EQ(p.at(Key{CT_UNIVERSAL_ARCHIVE, TS_LEGAL_ENTITY}),
              common({5, 6, 8, 9, 12, 13, 14, 15, 7}));
    EXPECT_EQ(p.at(Key{CT_UNIVERSAL_ARCHIVE, TS_NATURAL_PERSON}),
              common({5, 6, 8, 10, 12, 13, 14, 15, 7}));
    EXPECT_EQ(p.at(Key{CT_UNIVERSAL_PLUS_2017_ARCHIVE, TS_ENTREPRENEUR}),
              common({5, 6, 8, 11, 12, 13, 14, 15, 7, 3}));
    EXPECT_EQ(p.at(Key{CT_GOSZAKAZ_2017_ARCHIVE, TS_NATURAL_PERSON}),
              common({8, 10, 12, 13, 14, 15}));
    EXPECT_EQ(p.at(Key{CT_GOSZAKAZ_ARCHIVE, TS_ENTREPRENEUR}),
              common({5, 6, 8, 11, 12, 13, 14, 15, 7}));
    EXPECT_EQ(p.at(Key{CT_PACKAGE_GOSTORGI, TS_ANY}), common({}));
    EXPECT_EQ(p.at(Key{CT_PACKAGE_UNIVERSAL, TS_ANY}), common({5, 6, 3, 7, 32}));
    for (int t : {5, 8, 10})
        for (int s : {-1, 0, 1, 2})
            EXPECT_EQ(p.count(Key{static_cast<eCertTemplate>(t), static_cast<eTypeSubject>(s)}), 0u);
    // Key order: template, then subject with -1 first.
    EXPECT_EQ(p.begin()->first, (Key{CT_STANDARD, TS_ANY}));
    EXPECT_EQ(std::next(p.begin(), 3)->first, (Key{CT_UNIVERSAL_ARCHIVE, TS_LEGAL_ENTITY}));
    EXPECT_EQ(std::next(p.begin(), 4)->first, (Key{CT_UNIVERSAL_ARCHIVE, TS_NATURAL_PERSON}));
}

TEST(CCertTemplate, IsEnhOidInCertTemplateMatchesKeysExactly) {
    EXPECT_FALSE(CCertTemplate::isEnhOidInCertTemplate(CT_UNIVERSAL_ARCHIVE, TS_ANY, ENH_ETP_2));
    EXPECT_TRUE(CCertTemplate::isEnhOidInCertTemplate(CT_UNIVERSAL_ARCHIVE, TS_LEGAL_ENTITY,
                                                      ENH_GOSTORGI_LEGAL));
    EXPECT_FALSE(CCertTemplate::isEnhOidInCertTemplate(CT_UNIVERSAL_ARCHIVE, TS_NATURAL_PERSON,
                                                       ENH_GOSTORGI_LEGAL));
    // -1 matches only -1: template 0 is registered for any subject only.
    EXPECT_TRUE(CCertTemplate::isEnhOidInCertTemplate(CT_STANDARD, TS_ANY, ENH_CLIENT_AUTH));
    EXPECT_FALSE(CCertTemplate::isEnhOidInCertTemplate(CT_STANDARD, TS_LEGAL_ENTITY, ENH_CLIENT_AUTH));
    EXPECT_FALSE(CCertTemplate::isEnhOidInCertTemplate(CT_STANDARD, TS_ANY, ENH_SERVER_AUTH));
    EXPECT_FALSE(CCertTemplate::isEnhOidInCertTemplate(CT_STANDARD_1_MONTH, TS_ANY, ENH_CLIENT_AUTH));
    EXPECT_FALSE(CCertTemplate::isEnhOidInCertTemplate(CT_NONE, TS_ANY, ENH_CLIENT_AUTH));
}

TEST(CCertTemplate, GetCertTemplateFirstMatchInKeyOrder) {
    std::mt19937 rng(7);
    auto shuffled = [&](std::vector<eEnhKeyOID> v) {
        std::shuffle(v.begin(), v.end(), rng);
        return v;
    };
    EXPECT_EQ(CCertTemplate::getCertTemplate(oids({35, 34, 33, 2, 1})), CT_STANDARD);
    EXPECT_EQ(CCertTemplate::getCertTemplate(shuffled(common({28, 31, 27, 30, 29, 26}))),
              CT_STANDARD_DISCLOSURE);
    EXPECT_EQ(CCertTemplate::getCertTemplate(shuffled(common({3}))), CT_B2B_ARCHIVE);
    // Identical lists: the smaller key wins (2 over 12, 3 over 9).
    EXPECT_EQ(CCertTemplate::getCertTemplate(shuffled(common({5, 6, 3, 7, 32}))), CT_COMMERCIAL);
    EXPECT_EQ(CCertTemplate::getCertTemplate(shuffled(common({5, 6, 8, 10, 12, 13, 14, 15, 7}))),
              CT_UNIVERSAL_ARCHIVE);
    EXPECT_EQ(CCertTemplate::getCertTemplate(shuffled(common({8, 11, 12, 13, 14, 15}))),
              CT_GOSZAKAZ_2017_ARCHIVE);
    EXPECT_EQ(CCertTemplate::getCertTemplate(shuffled(common({5, 6, 8, 9, 12, 13, 14, 15, 7, 3}))),
              CT_UNIVERSAL_PLUS_2017_ARCHIVE);

    EXPECT_EQ(CCertTemplate::getCertTemplate(oids({1, 2})), CT_NONE);
    EXPECT_EQ(CCertTemplate::getCertTemplate({}), CT_NONE);
    // Same values with one repeated: the count differs, so no match.
    EXPECT_EQ(CCertTemplate::getCertTemplate(oids({1, 2, 33, 34, 35, 35})), CT_NONE);
    // One extra or one missing purpose is another product (or none).
    EXPECT_EQ(CCertTemplate::getCertTemplate(common({0})), CT_NONE);
    EXPECT_EQ(CCertTemplate::getCertTemplate(oids({1, 2, 33, 34})), CT_NONE);
}

TEST(CCertTemplate, SingletonCreatedOnceUnderConcurrentFirstUse) {
    constexpr int kThreads = 8;
    std::atomic<int> ready{0};
    std::vector<const CCertTemplate*> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) {
            }
            seen[t] = &CCertTemplate::instance();
            EXPECT_EQ(CCertTemplate::getCertTemplate(common({3})), CT_B2B_ARCHIVE);
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 1; t < kThreads; ++t) EXPECT_EQ(seen[t], seen[0]);
}
