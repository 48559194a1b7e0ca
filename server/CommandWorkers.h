// Runs commands off the network threads. A command may wait on the CA's
// server, the registry or the user; it then holds a worker, never one of the
// threads that serve every connection's handshakes, reads and writes. A new
// worker is made whenever none is free (up to a cap), and a worker that has
// been idle for a while ends, so a quiet program keeps few threads.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

class CommandWorkers {
public:
    CommandWorkers(std::size_t maxWorkers, std::chrono::milliseconds idleLifetime);
    // Waits for the running tasks; queued ones are dropped.
    ~CommandWorkers();
    CommandWorkers(const CommandWorkers&) = delete;
    CommandWorkers& operator=(const CommandWorkers&) = delete;

    // Queues a task. Tasks run in the order posted when workers are short;
    // with fewer tasks in flight than the cap, each starts at once. When the
    // system gives no thread at all, the task runs in the caller's thread.
    void post(std::function<void()> task);

    // Workers alive now (for tests and diagnostics).
    std::size_t workerCount() const;

private:
    struct State;
    static void workerLoop(const std::shared_ptr<State>& state);
    std::shared_ptr<State> m_state;
};
