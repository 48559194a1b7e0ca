// A log file that keeps itself small: lines are appended with the local time
// in front; when the next line would take the file past its size limit, the
// file becomes "<name>.1" (the older "<name>.1" becomes "<name>.2", and so
// on) and a new one is started. At most `keep` files exist at any time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "core/export.h"

namespace platform {

class UPD_QN_API RotatingLogFile {
public:
    static constexpr std::uint64_t kDefaultMaxBytes = 1u << 20;  // 1 MiB
    static constexpr unsigned kDefaultKeep = 3;

    RotatingLogFile(std::string path, std::uint64_t maxBytes = kDefaultMaxBytes, unsigned keep = kDefaultKeep);
    ~RotatingLogFile();
    RotatingLogFile(const RotatingLogFile&) = delete;
    RotatingLogFile& operator=(const RotatingLogFile&) = delete;

    // Appends "YYYY-MM-DD HH:MM:SS " + line; a line without its line end gets
    // "\n". Written through at once. Returns false when the file cannot be
    // written (the line is lost; the next call tries again). Not thread-safe:
    // one writer, or the caller's lock.
    bool appendLine(std::string_view line);

    const std::string& path() const { return m_path; }

private:
    bool open();
    void rotate();

    std::string m_path;
    std::uint64_t m_maxBytes;
    unsigned m_keep;
    std::FILE* m_file = nullptr;
    std::uint64_t m_size = 0;
};

}  // namespace platform
