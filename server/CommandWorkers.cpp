#include "server/CommandWorkers.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

struct CommandWorkers::State {
    std::mutex mutex;
    std::condition_variable wake;      // a task was queued, or stop
    std::condition_variable finished;  // a worker ended
    std::deque<std::function<void()>> queue;
    std::size_t workers = 0;
    std::size_t idle = 0;
    std::size_t maxWorkers;
    std::chrono::milliseconds idleLifetime;
    bool stopping = false;

    State(std::size_t cap, std::chrono::milliseconds lifetime) : maxWorkers(cap), idleLifetime(lifetime) {}
};

CommandWorkers::CommandWorkers(std::size_t maxWorkers, std::chrono::milliseconds idleLifetime)
    : m_state(std::make_shared<State>(maxWorkers < 1 ? 1 : maxWorkers, idleLifetime)) {}

CommandWorkers::~CommandWorkers() {
    std::unique_lock lock(m_state->mutex);
    m_state->stopping = true;
    m_state->queue.clear();
    m_state->wake.notify_all();
    m_state->finished.wait(lock, [this] { return m_state->workers == 0; });
}

void CommandWorkers::post(std::function<void()> task) {
    std::unique_lock lock(m_state->mutex);
    if (m_state->stopping) return;
    m_state->queue.push_back(std::move(task));
    if (m_state->idle >= m_state->queue.size() || m_state->workers >= m_state->maxWorkers) {
        m_state->wake.notify_one();
        return;
    }
    ++m_state->workers;
    try {
        // Detached: a worker keeps the state alive and ends on its own.
        std::thread([state = m_state] { workerLoop(state); }).detach();
        return;
    } catch (const std::system_error&) {
        --m_state->workers;
    }
    // No new thread: a worker that exists takes the task in turn, or, with
    // none at all, the caller runs it.
    if (m_state->workers > 0) {
        m_state->wake.notify_one();
        return;
    }
    auto inlineTask = std::move(m_state->queue.back());
    m_state->queue.pop_back();
    lock.unlock();
    try {
        inlineTask();
    } catch (...) {
    }
}

std::size_t CommandWorkers::workerCount() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->workers;
}

void CommandWorkers::workerLoop(const std::shared_ptr<State>& state) {
    std::unique_lock lock(state->mutex);
    for (;;) {
        if (state->queue.empty() && !state->stopping) {
            ++state->idle;
            const bool woken = state->wake.wait_for(lock, state->idleLifetime,
                                                    [&] { return !state->queue.empty() || state->stopping; });
            --state->idle;
            if (!woken) break;  // idle too long
        }
        if (state->stopping) break;
        if (state->queue.empty()) continue;
        auto task = std::move(state->queue.front());
        state->queue.pop_front();
        lock.unlock();
        try {
            task();
        } catch (...) {
            // A task reports its own failures; none may end the worker.
        }
        task = nullptr;  // released outside the lock
        lock.lock();
    }
    --state->workers;
    state->finished.notify_all();
}
