#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>
#include <vector>

#include "core/AppInfo.h"
#include "core/CEventNotify.h"
#include "core/RandomString.h"

using namespace tesel;

namespace {

// Leaves no listener behind for other tests.
struct ListenerGuard {
    ~ListenerGuard() { setAppInfoListener({}, {}); }
};

}  // namespace

TEST(AppInfo, VersionText) {
    setVersion(101276);
    EXPECT_EQ(getVersion(), 101276u);
    EXPECT_EQ(getAppVersion(), "1.01.276");
    setVersion(200005);
    EXPECT_EQ(getAppVersion(), "2.00.005");
    setVersion(0);
    EXPECT_EQ(getAppVersion(), "0.00.000");
    setVersion(4294967295u);
    EXPECT_EQ(getAppVersion(), "42949.67.295");
}

TEST(AppInfo, ListenerReceivesChangesAndReplays) {
    ListenerGuard guard;
    setVersion(101276);
    setAppType(QN_PLUGIN);
    std::vector<unsigned> versions;
    std::vector<eQuorinType> types;
    // Registered after the values were set: they are replayed at once.
    setAppInfoListener([&](unsigned v) { versions.push_back(v); },
                       [&](eQuorinType t) { types.push_back(t); });
    EXPECT_EQ(versions, std::vector<unsigned>{101276});
    EXPECT_EQ(types, std::vector<eQuorinType>{QN_PLUGIN});

    setVersion(101277);
    setAppType(QN_CA);
    EXPECT_EQ(versions, (std::vector<unsigned>{101276, 101277}));
    EXPECT_EQ(types, (std::vector<eQuorinType>{QN_PLUGIN, QN_CA}));
    EXPECT_EQ(getAppType(), QN_CA);

    // Unregistered: nothing more arrives.
    setAppInfoListener({}, {});
    setVersion(5);
    EXPECT_EQ(versions.size(), 2u);
}

TEST(AppInfo, ConcurrentSettersReachTheListenerOneAtATime) {
    ListenerGuard guard;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    std::atomic<int> calls{0};
    setAppInfoListener(
        [&](unsigned) {
            if (inside.fetch_add(1) != 0) overlapped = true;
            ++calls;
            inside.fetch_sub(1);
        },
        {});
    calls = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (unsigned i = 0; i < 200; ++i) setVersion(i);
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(calls.load(), 800);
    EXPECT_FALSE(overlapped.load());
}

TEST(RandomString, LengthAndAlphabet) {
    EXPECT_EQ(getRandomString(0), "");
    EXPECT_EQ(getRandomString(-3), "");
    const std::string s = getRandomString(100);
    ASSERT_EQ(s.size(), 100u);
    for (char c : s) EXPECT_TRUE((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) << c;
    // Two calls are seeded independently.
    EXPECT_NE(getRandomString(32), getRandomString(32));
}

TEST(RandomString, ExactDistribution) {
    // With the standard default seed the engine yields 3499211612, 581869302,
    // 3890346734, 3586334585, 545404204: indices 29, 4, 32, 30, 4.
    std::mt19937 engine(5489u);
    EXPECT_EQ(getRandomString(engine, 5), "4E75E");

    // Every one of the 36 characters turns up, roughly equally often.
    std::map<char, int> counts;
    for (char c : getRandomString(36000)) ++counts[c];
    ASSERT_EQ(counts.size(), 36u);
    EXPECT_EQ(counts.begin()->first, '0');
    for (const auto& [c, n] : counts) {
        EXPECT_GT(n, 750) << c;
        EXPECT_LT(n, 1250) << c;
    }
}

TEST(EventNotify, OneHandlerReplacedAndRemoved) {
    CEventNotify hook;
    hook.notify(EVENT_NONE, 1, 2);  // no handler: nothing happens
    int first = 0;
    int second = 0;
    unsigned gotValue = 0;
    long gotParam = 0;
    hook.registerMessageHandler([&](eEventNotify, unsigned, long) { ++first; });
    hook.notify(EVENT_NONE, 1, 2);
    hook.registerMessageHandler([&](eEventNotify, unsigned v, long p) {
        ++second;
        gotValue = v;
        gotParam = p;
    });
    hook.notify(EVENT_NONE, 7, -9);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
    EXPECT_EQ(gotValue, 7u);
    EXPECT_EQ(gotParam, -9);
    hook.registerMessageHandler({});
    hook.notify(EVENT_NONE, 1, 2);
    EXPECT_EQ(second, 1);
    EXPECT_EQ(&CEventNotify::instance(), &CEventNotify::instance());
}

TEST(EventNotify, HandlerMayReplaceItselfWhileOthersNotify) {
    CEventNotify hook;
    std::atomic<int> calls{0};
    hook.registerMessageHandler([&](eEventNotify, unsigned, long) {
        ++calls;
        hook.registerMessageHandler([&](eEventNotify, unsigned, long) { ++calls; });
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 100; ++i) hook.notify(EVENT_NONE, 0, 0);
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(calls.load(), 400);
}
