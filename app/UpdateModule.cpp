#include "app/UpdateModule.h"

namespace {

CUpdateQn& makeAgent() {
    static CUpdateQn agent;
    // From now on the version and variant the program sets reach the agent.
    agent.listenToAppInfo();
    return agent;
}

}  // namespace

CUpdateQn& getUpdateModule() {
    // The reference is bound once: listenToAppInfo runs exactly once.
    static CUpdateQn& agent = makeAgent();
    return agent;
}
