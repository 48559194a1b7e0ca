// The local WebSocket service through which the web page sends its commands.
//
// The server listens on all IPv4 interfaces at the plugin port, reads every
// message whole, hands it to the installed command processor and writes the
// processor's reply back on the same connection as one message of the same
// type (text or binary). Each connection is served strictly in order; different
// connections are served in parallel by the I/O threads.
//
// The networking library stays inside CWebSocketServer.cpp so that only one
// translation unit pays for compiling it.
#pragma once

#include <boost/system/error_code.hpp>

#include "core/CBlob.h"

// Builds the reply for one request. A non-zero result closes the connection
// without a reply.
using ProcessFunction = int (*)(tesel::CBlob& request, tesel::CBlob& reply);

class CWebSocketServer {
public:
    explicit CWebSocketServer(int threads);

    // Installs the command processor (used by the next start()).
    void setProccessFunction(ProcessFunction processor);

    // Returns 1 when no processor is installed. Otherwise starts the service
    // on a detached thread with the current plugin port and returns 0 at once;
    // failures to listen are reported on the standard error stream only.
    int start();

    // Writes "<word>: <message of ec>\n" to the standard error stream.
    static void fail(const boost::system::error_code& ec, const char* word);

private:
    int m_threads;
    ProcessFunction m_processor = nullptr;
};

// The process-wide port of the service: 3000 until changed. Safe from any thread.
unsigned getPluginPort();
void setPluginPort(unsigned port);
