// The local WebSocket service through which the web page sends its commands.
//
// The server listens on the loopback address (127.0.0.1) at the plugin port
// unless another listen address is set, refuses handshakes whose Origin is not
// on the allow-list (HTTP 403, no upgrade), reads every
// message whole, hands it to the installed command processor and writes the
// processor's reply back on the same connection as one message of the same
// type (text or binary). Each connection is served strictly in order; different
// connections are served in parallel.
//
// The I/O threads only accept, read and write, all asynchronously; commands
// run on workers (CommandWorkers), so a command waiting on a slow server or
// a page that stops reading its replies never delays other connections.
//
// A handshake without an Origin header comes from a local program, not a
// page: it is served only from a loopback peer whose socket belongs to this
// operating-system user. `GET /status` (no upgrade) answers a small JSON
// object about the program to pages of allowed origins (with CORS headers)
// and to local programs of this user.
//
// The networking library stays inside CWebSocketServer.cpp so that only one
// translation unit pays for compiling it.
#pragma once

#include <boost/system/error_code.hpp>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include "core/CBlob.h"
#include "server/COriginAllowList.h"

// Builds the reply for one request. A non-zero result closes the connection
// without a reply.
using ProcessFunction = int (*)(tesel::CBlob& request, tesel::CBlob& reply);
// True for a request the processor answers at once from memory: it is
// processed on the network thread, without the hand-over to a worker.
using AnsweredAtOnceFunction = bool (*)(const tesel::CBlob& request);

// What one program's service allows itself; the defaults are the program's.
struct ServiceLimits {
    // From the connection to the end of the WebSocket (or status) handshake.
    std::chrono::milliseconds handshakeTimeout{10'000};
    // Connections open at once; a further one is closed at once until one ends.
    std::size_t maxConnections = 256;
    // Silence from an open connection's peer (waiting for its next message)
    // after which it is pinged; as long again without any answer ends it.
    std::chrono::milliseconds pingAfter{30'000};
    // A reply the peer has not taken in this long ends the connection.
    std::chrono::milliseconds writeTimeout{60'000};
    // Bytes held by messages being read, processed or written, over all
    // connections; the connection whose message would pass it is closed.
    std::size_t messageMemoryCap = std::size_t{512} << 20;
};

class CWebSocketServer {
public:
    explicit CWebSocketServer(int threads);

    // Installs the command processor (used by the next start()).
    void setProccessFunction(ProcessFunction processor);

    // The pages that may connect (used by the next start()). One whose
    // origin is not listed gets 403 and one line naming the origin on the
    // standard error stream. Empty by default: no page may connect.
    void setAllowedOrigins(COriginAllowList origins);
    // The IPv4 or IPv6 address to listen on; "127.0.0.1" by default,
    // "0.0.0.0" for every IPv4 interface.
    void setListenAddress(std::string address);
    static constexpr const char* kDefaultListenAddress = "127.0.0.1";

    // The body of `GET /status`: called for each such request, on an I/O
    // thread. Without one, /status is not served (the request is answered
    // as any other plain HTTP request: 400).
    void setStatusFunction(std::function<std::string()> statusJson);

    // Called once, on the service's thread, when the port could not be
    // listened on after every bind attempt, with the port and the reason.
    void setListenFailedHandler(std::function<void(unsigned port, const std::string& reason)> handler);

    void setLimits(const ServiceLimits& limits);

    // Which requests skip the workers (used by the next start()). Without
    // one every request goes to a worker.
    void setAnsweredAtOnce(AnsweredAtOnceFunction answeredAtOnce);

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
    std::function<std::string()> m_status;
    std::function<void(unsigned, const std::string&)> m_listenFailed;
    ServiceLimits m_limits;
    AnsweredAtOnceFunction m_answeredAtOnce = nullptr;
};

// The process-wide port of the service: 3000 until changed. Safe from any thread.
unsigned getPluginPort();
void setPluginPort(unsigned port);
