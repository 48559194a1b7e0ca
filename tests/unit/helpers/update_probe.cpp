// A stand-in for the program in the update tests: it runs the update agent
// the way the program's start-up does, and when the agent restarts it, the
// new instance (started without arguments) reports itself and ends.
//
//   update_probe                      the restarted instance: appends
//                                     "restarted <tag>" to $UPDATE_PROBE_MARKER,
//                                     where <tag> is "new" when its own file
//                                     ends with the bytes "#NEW-VERSION#"
//   update_probe restart              calls CUpdateQn::restart
//   update_probe update <host> <port> <version>
//                                     the start-up update check (variant 4)
//
// After restart/update the probe runs a stand-in main loop that the restart
// handler ends; the exit code is then 0. Without a restart it is 5.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "helpers/UpdateKeys.h"
#include "update/CUpdateQn.h"
#include "update/RestartSignal.h"

namespace {

const std::string kNewTag = "#NEW-VERSION#";

int reportRestart(const char* self) {
    std::ifstream in(self, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const bool isNew = bytes.size() >= kNewTag.size() &&
                       bytes.compare(bytes.size() - kNewTag.size(), kNewTag.size(), kNewTag) == 0;
    const char* marker = std::getenv("UPDATE_PROBE_MARKER");
    if (marker == nullptr) return 2;
    std::ofstream out(marker, std::ios::app);
    out << "restarted " << (isNew ? "new" : "old") << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 1) return reportRestart(argv[0]);

    std::atomic<bool> running{true};
    qn::update::setRestartHandler([&running] { running = false; });

    CUpdateQn agent;
    const std::string mode = argv[1];
    if (mode == "restart") {
        agent.restart(nullptr);
    } else if (mode == "update" && argc == 5) {
        agent.setHost(argv[2]);
        agent.setPort(static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)));
        agent.setVersion(static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)));
        agent.setType(tesel::QN_PLUGIN);
        agent.setVerificationKey(update_keys::verificationKey());
        agent.setTestKeyAllowed(true);
        bool handled = false;
        agent.attemptUpdate(handled, nullptr);
        std::fprintf(stderr, "handled=%d\n", handled ? 1 : 0);
    } else {
        return 4;
    }
    // The main loop: it ends with 0 as soon as a restart was requested.
    if (!running) return 0;
    return 5;
}
