// The local WebSocket service through which the web page sends its commands.
//
// The server listens on the loopback address (127.0.0.1) at the plugin port
// unless another listen address is set, refuses handshakes whose Origin is not
// on the allow-list (HTTP 403, no upgrade), reads every
// message whole, hands it to the installed command processor and writes the
// processor's reply back on the same connection as one message of the same
// type (text or binary). Each connection is served strictly in order; different
// connections are served in parallel by the I/O threads.
//
// The networking library stays inside CWebSocketServer.cpp so that only one
// translation unit pays for compiling it.
#pragma once

#include <boost/system/error_code.hpp>

#include <string>

#include "core/CBlob.h"
#include "server/COriginAllowList.h"

// Builds the reply for one request. A non-zero result closes the connection
// without a reply.
using ProcessFunction = int (*)(tesel::CBlob& request, tesel::CBlob& reply);

class CWebSocketServer {
public:
    explicit CWebSocketServer(int threads);

    // Installs the command processor (used by the next start()).
    void setProccessFunction(ProcessFunction processor);

    // The pages that may connect (used by the next start()). A handshake
    // without an Origin header is always served; one whose origin is not
    // listed gets 403 and one line naming the origin on the standard error
    // stream. Empty by default: no page may connect.
    void setAllowedOrigins(COriginAllowList origins);
    // The IPv4 or IPv6 address to listen on; "127.0.0.1" by default,
    // "0.0.0.0" for every IPv4 interface.
    void setListenAddress(std::string address);
    static constexpr const char* kDefaultListenAddress = "127.0.0.1";

    // Returns 1 when no processor is installed. Otherwise starts the service
    // on a detached thread with the current plugin port and returns 0 at once;
    // failures to listen are reported on the standard error stream only.
    // Once listening, "listening on ws://<address>:<port>" is written to the
    // standard output stream.
    int start();

    // Writes "<word>: <message of ec>\n" to the standard error stream.
    static void fail(const boost::system::error_code& ec, const char* word);

private:
    int m_threads;
    ProcessFunction m_processor = nullptr;
    COriginAllowList m_origins;
    std::string m_listenAddress = kDefaultListenAddress;
};

// The process-wide port of the service: 3000 until changed. Safe from any thread.
unsigned getPluginPort();
void setPluginPort(unsigned port);
