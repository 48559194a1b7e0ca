#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/rotating_log.h"
#include "platform/stderr_log.h"
#include "platform/stderr_log_sink.h"

namespace platform {

namespace stderr_log {

namespace {

constexpr std::size_t kLongestLine = 64 * 1024;

struct Sink {
    std::mutex mutex;
    std::unique_ptr<RotatingLogFile> file;
    std::string partial;
};

Sink& sink() {
    // Never destroyed: the reader may still write while the process exits.
    static Sink* const s = new Sink();
    return *s;
}

void writeLine(Sink& s, std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (s.file) s.file->appendLine(line);
}

}  // namespace

void openSink(const std::string& logPath) {
    Sink& s = sink();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.file = std::make_unique<RotatingLogFile>(logPath);
    s.partial.clear();
}

void feed(const char* data, std::size_t size) {
    Sink& s = sink();
    std::lock_guard<std::mutex> lock(s.mutex);
    std::string_view rest(data, size);
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        if (end == std::string_view::npos) {
            s.partial.append(rest);
            while (s.partial.size() >= kLongestLine) {
                writeLine(s, std::string_view(s.partial).substr(0, kLongestLine));
                s.partial.erase(0, kLongestLine);
            }
            return;
        }
        if (s.partial.empty()) {
            writeLine(s, rest.substr(0, end));
        } else {
            s.partial.append(rest.substr(0, end));
            writeLine(s, s.partial);
            s.partial.clear();
        }
        rest.remove_prefix(end + 1);
    }
}

void closeSink() {
    Sink& s = sink();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.partial.empty()) writeLine(s, s.partial);
    s.partial.clear();
    s.file.reset();
}

bool settleReader(std::unique_lock<std::mutex>& lock, std::condition_variable& finished, const bool& readerDone,
                  std::thread& reader) {
    const bool done = finished.wait_for(lock, std::chrono::seconds(2), [&readerDone] { return readerDone; });
    std::thread waiting = std::move(reader);
    lock.unlock();
    if (done) {
        waiting.join();
    } else {
        waiting.detach();
    }
    return done;
}

}  // namespace stderr_log

void writeLogLine(std::string_view line) {
    stderr_log::Sink& s = stderr_log::sink();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.file) s.file->appendLine(line);
}

}  // namespace platform
