// Everything the CA peer keeps in its state folder:
//   ca2001.key / ca2001.cer, ca2012.key / ca2012.cer  the CA keys (PEM) and
//       certificates (DER), made on first start;
//   envelopes/<convert ID>.env  one envelope: password, CSP kind, status,
//       client card bytes;
//   requests/<uuid>.req  one received packet and its answer.
// Record files are "name=hex value" lines. Every change is written at once.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "Bytes.h"
#include "TransportFormat.h"

namespace capeer {

struct Envelope {
    std::string id;
    std::string password;
    int kind = 0;              // eSupportCP of the envelope
    std::string status = "active";  // active, duplicate, blocked, activated, pending
    Bytes card;                // the client card in its byte form
};

enum class RequestKind { Pkcs10, Prolong, Card };

struct Request {
    std::string uuid;
    RequestKind kind = RequestKind::Pkcs10;
    std::string state = "held";  // held, answered, error
    unsigned errorNumber = 0;    // for state "error"
    std::uint32_t response = 0;  // 0 approved, anything else rejected
    std::string message;         // CP1251
    int caGeneration = 2012;     // the CA key that received the packet
    Bytes requesterKey;          // the packet's signer: the answer is for it
    Bytes requesterSerial;       // serial of the requester's certificate, if any
    Bytes request;               // PKCS#10 of a certificate request or renewal
    Bytes certificate;           // issued certificate
    std::string convertId;
    Bytes card;                  // client card of a card registration or renewal, as received
};

class PeerState {
public:
    // Opens the folder, making the CA keys and certificates on first start.
    bool open(const std::string& folder, std::string& error);

    const CaKey& ca(int generation) const { return generation == 2001 ? m_ca2001 : m_ca2012; }
    const CaKey& ca2001() const { return m_ca2001; }
    const CaKey& ca2012() const { return m_ca2012; }

    // Identifiers that can name a file: letters, digits, '-' and '_'.
    static bool isSafeId(const std::string& id);

    std::optional<Envelope> envelope(const std::string& id) const;
    bool putEnvelope(const Envelope& e);

    std::optional<Request> request(const std::string& uuid) const;
    bool putRequest(const Request& r);
    const std::map<std::string, Request>& requests() const { return m_requests; }

    std::string newUuid() const;

private:
    bool loadOrMakeCa(int generation, CaKey& out, std::string& error);
    void loadEnvelopes();
    void loadRequests();

    std::string m_folder;
    CaKey m_ca2001;
    CaKey m_ca2012;
    std::map<std::string, Envelope> m_envelopes;
    std::map<std::string, Request> m_requests;
};

}  // namespace capeer
