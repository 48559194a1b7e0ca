// The CA peer's endpoints, independent of the HTTP server that carries them:
// one call per request, from method, target and body to the answer. Calls
// are serialised; the state is kept in PeerState.
//
// CA transport server:
//   GET  /api/etc/getCertCA, /api/etc/getCertCA_2012    CA certificate (DER)
//   GET  /api/etc/getLatestVersion/<type>               magic + version digits
//   POST /api/etc/downloadUpdate                        a package file
//   GET  /api/client/getCSPByConvertId/<id>             magic + u32 CSP kind
//   GET  /api/client/getPacketOutByConvertId/<id>       the envelope's card, signed
//   POST /api/client/setRequestToCert                   certificate request
//   POST /api/client/setRequestProlongKey               key renewal request
//   POST /api/partner/setClientInfo                     partner's client card
//   GET  /api/getPacketOutByUuid/<uuid>                 the answer, encrypted
// Accepted packets are answered with magic + string UUID.
// Control (GET or POST, plain-text answers):
//   /control/envelope/<id>?password=&kind=&status=      body: card bytes
//   /control/release/<uuid>   /control/reject/<uuid>?response=&message=
//   /control/error/<uuid>/<n> /control/hold/on|off      /control/requests
//   /control/card/<uuid>      the client card a registration or renewal carried
//   /control/pkcs10/<uuid>    the PKCS#10 request of a request or renewal (DER)
//   /control/certificate/<uuid>  the certificate issued for it (DER)
//   /control/open-ca          body: a protected packet for a CA key; its payload
#pragma once

#include <mutex>
#include <string>

#include "Bytes.h"
#include "PeerState.h"

namespace capeer {

struct HttpAnswer {
    int status = 200;
    std::string contentType = "application/octet-stream";
    Bytes body;
    std::string note;      // what happened, for the request's log line
    std::string location;  // a redirect's target, when not empty
};

class Peer {
public:
    Peer(PeerState& state, std::string packagesFolder, bool hold);

    HttpAnswer handle(const std::string& method, const std::string& target, const Bytes& body);

private:
    HttpAnswer getCertCA(int generation);
    HttpAnswer getLatestVersion(const std::string& type);
    HttpAnswer downloadUpdate(const Bytes& body);
    HttpAnswer getCSPByConvertId(const std::string& id);
    HttpAnswer getPacketOutByConvertId(const std::string& id);
    HttpAnswer setRequestToCert(const Bytes& body);
    HttpAnswer setRequestProlongKey(const Bytes& body);
    HttpAnswer setClientInfo(const Bytes& body);
    HttpAnswer getPacketOutByUuid(const std::string& uuid);
    HttpAnswer control(const std::string& path, const std::string& query, const Bytes& body);

    // Issues the certificate of a request (or accepts a card) and marks it
    // answered; a request that cannot be issued is answered as rejected.
    void answer(Request& q);
    HttpAnswer accepted(Request& q, const std::string& what);

    std::mutex m_mutex;
    PeerState& m_state;
    std::string m_packages;
    bool m_hold;
};

}  // namespace capeer
