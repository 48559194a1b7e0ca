// The address, the container name and the root CA certificates are read on
// the I/O threads while another thread changes them: every reader must get a
// whole value, old or new.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/Settings.h"

namespace {

TEST(SettingsConcurrencyTest, ReadersAlwaysSeeAWholeValue) {
    const std::string longHost(200, 'h');
    const tesel::CBlob small(reinterpret_cast<const unsigned char*>("ab"), 2);
    const std::vector<unsigned char> bigBytes(4096, 0x5A);
    const tesel::CBlob big(bigBytes.data(), static_cast<unsigned>(bigBytes.size()));
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};

    std::thread writer([&] {
        for (int i = 0; i < 3000; ++i) {
            setTransportServerAddress(i % 2 ? httpSrv::httpServerAddress{"s", 1}
                                            : httpSrv::httpServerAddress{longHost, 2});
            setCurrentContainer(i % 2 ? "c" : longHost);
            setRootCACerts(i % 2 ? small : big);
        }
        stop = true;
    });
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
        readers.emplace_back([&] {
            while (!stop) {
                const httpSrv::httpServerAddress a = getTransportServerAddress();
                if (!((a.host == "s" && a.port == 1) || (a.host == longHost && a.port == 2) || a.port == 9200))
                    ++torn;
                const std::string c = getCurrentContainer();
                if (!(c.empty() || c == "c" || c == longHost)) ++torn;
                const tesel::CBlob certs = getRootCACerts();
                if (!(certs.isEmpty() || certs == small || certs == big)) ++torn;
            }
        });
    }
    writer.join();
    for (std::thread& t : readers) t.join();
    EXPECT_EQ(torn.load(), 0);
}

}  // namespace
