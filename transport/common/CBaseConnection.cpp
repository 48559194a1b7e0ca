#include "transport/common/CBaseConnection.h"

#include <curl/curl.h>

#include "transport/common/CHttpConnection.h"

namespace tesel {

namespace {

constexpr const char* kUserAgent = "quorin/1.0";

// libcurl's own callback type: the exact signature it calls.
std::size_t writeToBlob(char* data, std::size_t size, std::size_t count, void* target) {
    return WriteMemoryCallback(data, size, count, target);
}

}  // namespace

CBaseConnection::CBaseConnection() = default;

CBaseConnection::CBaseConnection(std::string host, unsigned port)
    : m_port(port), m_host(std::move(host)) {}

CBaseConnection::CBaseConnection(const CBaseConnection& other) {
    other.snapshot(m_host, m_port);
    m_timeout = other.m_timeout;
}

CBaseConnection& CBaseConnection::operator=(const CBaseConnection& other) {
    if (this != &other) {
        std::string host;
        unsigned port = 0;
        other.snapshot(host, port);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_host = std::move(host);
        m_port = port;
        m_timeout = other.m_timeout;
    }
    return *this;
}

void CBaseConnection::setHost(std::string host) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_host = std::move(host);
}

void CBaseConnection::setPort(unsigned port) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_port = port;
}

std::string CBaseConnection::getHost() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_host;
}

unsigned CBaseConnection::getPort() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_port;
}

void CBaseConnection::snapshot(std::string& host, unsigned& port) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    host = m_host;
    port = m_port;
}

void CBaseConnection::setDefaultSettings(void* handle, CBlob* response, unsigned port) {
    if (port != 0) setPort(port);
    applyDefaultSettings(handle, response, getPort());
}

void CBaseConnection::applyDefaultSettings(void* handle, CBlob* response, unsigned port) const {
    CURL* curl = static_cast<CURL*>(handle);
    if (curl == nullptr) return;
    curl_easy_setopt(curl, CURLOPT_PORT, static_cast<long>(port));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(m_timeout));
    // A server that stops sending ends the exchange (downloads included):
    // less than kStalledBytesPerSecond for kStalledSeconds is a failure to
    // reach it, never a thread held for good.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(kStalledBytesPerSecond));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(kStalledSeconds));
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &writeToBlob);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, static_cast<void*>(response));
    // Transfers run on several threads at once: libcurl must not use signals
    // (SIGALRM) for its timeouts there.
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
}

}  // namespace tesel
