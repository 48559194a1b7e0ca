// Configuration of an HTTP connection: the base URL (scheme and host, no
// port, no trailing slash), the port and the connect timeout. Each transfer
// takes a consistent snapshot of host and port, so the address may be
// changed (settings dialog) while other threads are sending.
#pragma once

#include <mutex>
#include <string>

#include "core/CBlob.h"
#include "core/export.h"

namespace tesel {

class UPD_QN_API CBaseConnection {
public:
    static constexpr unsigned kConnectTimeoutSeconds = 5;
    static constexpr unsigned kStalledBytesPerSecond = 1;
    static constexpr unsigned kStalledSeconds = 30;

    CBaseConnection();
    CBaseConnection(std::string host, unsigned port);
    CBaseConnection(const CBaseConnection& other);
    CBaseConnection& operator=(const CBaseConnection& other);
    virtual ~CBaseConnection() = default;

    void setHost(std::string host);
    void setPort(unsigned port);
    std::string getHost() const;
    unsigned getPort() const;
    unsigned getTimeout() const { return m_timeout; }

    // Applies the options common to every transfer to a libcurl easy handle,
    // in this order: port, connect timeout, user agent, write function and
    // write target (response). A non-zero port first replaces the stored one.
    void setDefaultSettings(void* handle, CBlob* response, unsigned port);

protected:
    // Host and port read together, under the lock.
    void snapshot(std::string& host, unsigned& port) const;
    // The common options with the port of a snapshot taken by the caller.
    void applyDefaultSettings(void* handle, CBlob* response, unsigned port) const;

private:
    mutable std::mutex m_mutex;
    unsigned m_port = 0;
    unsigned m_timeout = kConnectTimeoutSeconds;
    std::string m_host;
};

}  // namespace tesel
