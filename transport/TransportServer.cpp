#include "transport/TransportServer.h"

#include "transport/common/TransportHeader.h"

namespace {

// The shared transport code starts with the update library's packet limit;
// the program, which links this file, allows its own larger packets. The
// connection is made here too, during static initialisation.
const bool g_programTransport = [] {
    qn::http_transport::setMaxPacketSize(qn::http_transport::kProgramMaxPacketSize);
    getTransportServer();
    return true;
}();

}  // namespace

CHttpConnection& getTransportServer() {
    // Function-local, so that a caller from another file's static
    // initialisation never sees it unconstructed.
    // Never destroyed: service threads may still be sending at exit.
    static CHttpConnection* const connection = new CHttpConnection();
    (void)g_programTransport;
    return *connection;
}
