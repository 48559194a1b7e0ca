#include "platform/rotating_log.h"

#include <cstdio>
#include <string>
#include <utility>

#include "platform/fileio.h"
#include "platform/win32.h"

namespace platform {

namespace {

std::string timestamp() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u ", unsigned{now.wYear} % 10000u,
                  unsigned{now.wMonth} % 100u, unsigned{now.wDay} % 100u, unsigned{now.wHour} % 100u,
                  unsigned{now.wMinute} % 100u, unsigned{now.wSecond} % 100u);
    return text;
}

}  // namespace

RotatingLogFile::RotatingLogFile(std::string path, std::uint64_t maxBytes, unsigned keep)
    : m_path(std::move(path)), m_maxBytes(maxBytes), m_keep(keep < 1 ? 1 : keep) {}

RotatingLogFile::~RotatingLogFile() {
    if (m_file != nullptr) std::fclose(m_file);
}

bool RotatingLogFile::open() {
    if (m_file != nullptr) return true;
    m_file = std::fopen(m_path.c_str(), "ab");
    if (m_file == nullptr) return false;
    const std::int64_t size = regularFileSize(m_file);
    m_size = size > 0 ? static_cast<std::uint64_t>(size) : 0;
    return true;
}

void RotatingLogFile::rotate() {
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    const auto numbered = [this](unsigned n) { return n == 0 ? m_path : m_path + "." + std::to_string(n); };
    // The oldest goes, every other one moves up by one. Windows' rename does
    // not replace a file, so each target is removed first.
    for (unsigned n = m_keep - 1; n >= 1; --n) {
        std::remove(numbered(n).c_str());
        std::rename(numbered(n - 1).c_str(), numbered(n).c_str());
    }
    if (m_keep == 1) std::remove(m_path.c_str());
    m_size = 0;
}

bool RotatingLogFile::appendLine(std::string_view line) {
    std::string text = timestamp();
    text.append(line);
    if (text.back() != '\n') text.push_back('\n');
    if (!open()) return false;
    if (m_size > 0 && m_size + text.size() > m_maxBytes) {
        rotate();
        if (!open()) return false;
    }
    const std::size_t written = std::fwrite(text.data(), 1, text.size(), m_file);
    std::fflush(m_file);
    m_size += written;
    return written == text.size();
}

}  // namespace platform
