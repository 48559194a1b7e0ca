#include "Endpoints.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "CaCertificates.h"
#include "TestControl.h"
#include "TransportFormat.h"

namespace fs = std::filesystem;

namespace capeer {

namespace {

constexpr std::uint32_t kPeerVersion = 100;
constexpr std::uint32_t kRequesterCa = 3;
constexpr int kIssuedDays = 365;

// Package types of the transport format.
constexpr std::uint32_t kPtClientCard = 1, kPtCardAnswer = 2, kPtCardFromCa = 3, kPtPkcs10 = 4,
                        kPtCertificate = 5, kPtProlong = 7, kPtProlongAnswer = 8;

const std::string kNotFoundPage = "<html><head><title>404 Not Found</title></head><body>Not Found</body></html>";

HttpAnswer binary(Bytes body, std::string note) {
    HttpAnswer a;
    a.body = std::move(body);
    a.note = std::move(note);
    return a;
}

HttpAnswer serverError(unsigned number, const std::string& why) {
    return binary(errorForm(number), "error=" + std::to_string(number) + (why.empty() ? "" : " (" + why + ")"));
}

HttpAnswer text(int status, const std::string& body) {
    HttpAnswer a;
    a.status = status;
    a.contentType = "text/plain; charset=utf-8";
    a.body = bytesOf(body + "\n");
    a.note = body;
    return a;
}

HttpAnswer notFound() {
    HttpAnswer a;
    a.status = 404;
    a.contentType = "text/html";
    a.body = bytesOf(kNotFoundPage);
    a.note = "404";
    return a;
}

// Texts of the answers are in the program's code page (Windows-1251):
// ASCII and Cyrillic are converted, anything else becomes '?'.
std::string toCp1251(const std::string& utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        unsigned cp = 0;
        std::size_t n = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
            cp = ((c & 0x1F) << 6) | (utf8[i + 1] & 0x3F);
            n = 2;
        } else if ((c & 0xF0) == 0xE0 && i + 2 < utf8.size()) {
            cp = ((c & 0x0F) << 12) | ((utf8[i + 1] & 0x3F) << 6) | (utf8[i + 2] & 0x3F);
            n = 3;
        } else {
            cp = '?';
            n = (c & 0xF8) == 0xF0 ? 4 : 1;
        }
        i += n;
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp >= 0x410 && cp <= 0x44F) {
            out.push_back(static_cast<char>(0xC0 + (cp - 0x410)));
        } else if (cp == 0x401) {
            out.push_back(static_cast<char>(0xA8));
        } else if (cp == 0x451) {
            out.push_back(static_cast<char>(0xB8));
        } else if (cp == 0x2116) {
            out.push_back(static_cast<char>(0xB9));
        } else {
            out.push_back('?');
        }
    }
    return out;
}

std::string percentDecode(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '+') {
            out.push_back(' ');
        } else if (s[i] == '%' && i + 2 < s.size()) {
            const Bytes b = unhex(s.substr(i + 1, 2));
            if (b.size() == 1) {
                out.push_back(static_cast<char>(b[0]));
                i += 2;
            } else {
                out.push_back(s[i]);
            }
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

std::map<std::string, std::string> parseForm(const std::string& s) {
    std::map<std::string, std::string> form;
    std::size_t start = 0;
    while (start <= s.size()) {
        const std::size_t amp = s.find('&', start);
        const std::string pair = s.substr(start, amp == std::string::npos ? std::string::npos : amp - start);
        const std::size_t eq = pair.find('=');
        if (eq != std::string::npos) form[percentDecode(pair.substr(0, eq))] = percentDecode(pair.substr(eq + 1));
        if (amp == std::string::npos) break;
        start = amp + 1;
    }
    return form;
}

int toInt(const std::string& s, int fallback) {
    try {
        std::size_t used = 0;
        const long v = std::stol(s, &used, 10);
        return used == s.size() ? static_cast<int>(v) : fallback;
    } catch (...) {
        return fallback;
    }
}

// Server error for an envelope that cannot be used, 0 for a usable one.
unsigned envelopeError(const std::optional<Envelope>& e) {
    if (!e) return SE_WRONG_ENVELOPE;
    if (e->status == "duplicate") return SE_MORE_THAN_ONE_ENVELOPE;
    if (e->status == "blocked") return SE_ENVELOPE_BLOCKED;
    if (e->status == "activated") return SE_ENVELOPE_ACTIVATED;
    if (e->status == "pending") return SE_CARD_NOT_ACCEPTED;
    return 0;
}

bool is2001Kind(int kind) { return kind == -1 || kind == -5 || kind == 2 || kind == 75; }

bool isBareFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\:") == std::string::npos &&
           name.find('\0') == std::string::npos;
}

Bytes uuidAnswer(const std::string& uuid) {
    Writer w;
    w.raw(kMagic).str(uuid);
    return w.take();
}

const char* kindText(RequestKind k) {
    return k == RequestKind::Pkcs10 ? "certificate request" : k == RequestKind::Prolong ? "renewal" : "client card";
}

// Opens a packet a requester sent to either CA key. Empty when p holds it,
// else the error answer to give.
std::optional<HttpAnswer> openRequest(PeerState& state, const Bytes& body, OpenedPacket& p) {
    std::string why;
    if (const unsigned err = openPacket(body, state.ca2001(), state.ca2012(), p, why)) return serverError(err, why);
    return std::nullopt;
}

// /control/open-ca: any protected packet addressed to one of the CA keys,
// verified and decrypted; the answer is its payload (permanent header
// included), so that tests can read packets the program makes for other
// services.
HttpAnswer openForControl(PeerState& state, const Bytes& body) {
    OpenedPacket p;
    if (auto refused = openRequest(state, body, p)) return *refused;
    return binary(p.payload, "opened packet, payload of " + std::to_string(p.payload.size()) + " bytes");
}

// Reads the permanent header at the start of a payload: the package type,
// and the header's version through version when asked.
std::uint32_t readPermanentHeader(Reader& r, std::uint32_t* version = nullptr) {
    const std::uint32_t v = r.u32();
    const std::uint32_t type = r.u32();
    r.u32();  // requester type
    r.u32();  // sender version
    if (version) *version = v;
    return type;
}

// A request of the given kind, to be answered by the CA key the packet was
// addressed to and encrypted for the key that signed it.
Request requestFrom(RequestKind kind, const OpenedPacket& p) {
    Request q;
    q.kind = kind;
    q.caGeneration = p.ca->generation;
    q.requesterKey = p.header.sender;
    return q;
}

}  // namespace

Peer::Peer(PeerState& state, std::string packagesFolder, bool hold)
    : m_state(state), m_packages(std::move(packagesFolder)), m_hold(hold) {}

HttpAnswer Peer::handle(const std::string& method, const std::string& target, const Bytes& body) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::size_t q = target.find('?');
    const std::string path = target.substr(0, q);
    const std::string query = q == std::string::npos ? "" : target.substr(q + 1);
    auto tail = [&](const std::string& prefix, std::string& rest) {
        if (path.compare(0, prefix.size(), prefix) != 0) return false;
        rest = path.substr(prefix.size());
        return true;
    };
    std::string rest;
    if (path == "/api/etc/getCertCA") return getCertCA(2001);
    if (path == "/api/etc/getCertCA_2012") return getCertCA(2012);
    if (tail("/api/etc/getLatestVersion/", rest)) return getLatestVersion(rest);
    if (path == "/api/etc/downloadUpdate" && method == "POST") return downloadUpdate(body);
    if (tail("/api/client/getCSPByConvertId/", rest)) return getCSPByConvertId(rest);
    if (tail("/api/client/getPacketOutByConvertId/", rest)) return getPacketOutByConvertId(rest);
    if (path == "/api/client/setRequestToCert") return setRequestToCert(body);
    if (path == "/api/client/setRequestProlongKey") return setRequestProlongKey(body);
    if (path == "/api/partner/setClientInfo") return setClientInfo(body);
    if (tail("/api/getPacketOutByUuid/", rest)) return getPacketOutByUuid(rest);
    if (tail("/control/", rest)) return control(rest, query, body);
    return notFound();
}

HttpAnswer Peer::getCertCA(int generation) {
    return binary(m_state.ca(generation).certificate, "CA certificate GOST " + std::to_string(generation));
}

HttpAnswer Peer::getLatestVersion(const std::string& type) {
    if (m_packages.empty() || !PeerState::isSafeId(type)) return serverError(SE_INTERNAL, "no package folder");
    long latest = -1;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fs::path(m_packages) / type, ec)) {
        const int v = toInt(entry.path().filename().string(), -1);
        if (entry.is_directory() && v > latest) latest = v;
    }
    if (latest < 0) return serverError(SE_INTERNAL, "no package for type " + type);
    Writer w;
    w.raw(kMagic).raw(std::to_string(latest));
    return binary(w.take(), "latest version " + std::to_string(latest));
}

HttpAnswer Peer::downloadUpdate(const Bytes& body) {
    auto form = parseForm(textOf(body));
    const std::string type = form["requesterType"], name = form["filename"], version = form["version"];
    if (m_packages.empty() || !PeerState::isSafeId(type) || !PeerState::isSafeId(version) || !isBareFileName(name))
        return serverError(SE_DAMAGED, "bad download request");
    std::ifstream in(fs::path(m_packages) / type / version / name, std::ios::binary);
    if (!in) return serverError(SE_DAMAGED, "no file " + name + " in version " + version);
    Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return binary(std::move(data), "file " + name + " of version " + version);
}

HttpAnswer Peer::getCSPByConvertId(const std::string& id) {
    const auto e = PeerState::isSafeId(id) ? m_state.envelope(id) : std::nullopt;
    if (const unsigned err = envelopeError(e)) return serverError(err, "envelope " + id);
    Writer w;
    w.raw(kMagic).u32(static_cast<std::uint32_t>(e->kind));
    return binary(w.take(), "CSP kind " + std::to_string(e->kind));
}

HttpAnswer Peer::getPacketOutByConvertId(const std::string& id) {
    const auto e = PeerState::isSafeId(id) ? m_state.envelope(id) : std::nullopt;
    if (const unsigned err = envelopeError(e)) return serverError(err, "envelope " + id);
    const CaKey& ca = is2001Kind(e->kind) ? m_state.ca2001() : m_state.ca2012();
    Writer payload;
    payload.raw(permanentHeader(1, kPtCardFromCa, kRequesterCa, kPeerVersion)).blob(e->card);
    const Bytes packet = buildPacket(ca, Bytes(), Bytes(), payload.bytes(), false);
    if (packet.empty()) return serverError(SE_INTERNAL, "signing failed");
    return binary(packet, "card of envelope " + id + " signed by the GOST " + std::to_string(ca.generation) + " CA");
}

HttpAnswer Peer::setRequestToCert(const Bytes& body) {
    OpenedPacket p;
    if (auto refused = openRequest(m_state, body, p)) return *refused;
    Reader r(p.payload);
    const std::uint32_t type = readPermanentHeader(r);
    r.blob();  // the CSP information of the new key
    const std::string convertId = r.str(), password = r.str();
    const Bytes pkcs10 = r.blob();
    if (r.bad() || type != kPtPkcs10) return serverError(SE_DAMAGED, "not a certificate request payload");

    auto e = PeerState::isSafeId(convertId) ? m_state.envelope(convertId) : std::nullopt;
    if (const unsigned err = envelopeError(e)) return serverError(err, "envelope " + convertId);
    if (password != e->password) return serverError(SE_ACCESS_DENIED, "wrong password of envelope " + convertId);
    e->status = "activated";
    m_state.putEnvelope(*e);

    Request q = requestFrom(RequestKind::Pkcs10, p);
    q.request = pkcs10;
    q.convertId = convertId;
    return accepted(q, "envelope " + convertId);
}

HttpAnswer Peer::setRequestProlongKey(const Bytes& body) {
    OpenedPacket p;
    if (auto refused = openRequest(m_state, body, p)) return *refused;
    Reader r(p.payload);
    std::uint32_t version = 0;
    const std::uint32_t type = readPermanentHeader(r, &version);
    const Bytes userCert = r.blob();
    const Bytes card = r.blob();
    const Bytes pkcs10 = r.blob();
    if (version > 1) r.blob();  // the CSP information of the new key
    if (r.bad() || type != kPtProlong) return serverError(SE_DAMAGED, "not a renewal payload");
    // Only the holder of a certificate of this CA renews it.
    const bool ours = issuedBy(userCert, m_state.ca2001().key) || issuedBy(userCert, m_state.ca2012().key);
    if (!ours) return serverError(SE_ACCESS_DENIED, "the certificate being renewed is not this CA's");
    if (!sameKey(certificateKeyBlob(userCert), p.header.sender))
        return serverError(SE_ACCESS_DENIED, "the renewal is not signed by the certificate's key");

    Request q = requestFrom(RequestKind::Prolong, p);
    q.requesterSerial = certificateSerialLE(userCert);
    q.request = pkcs10;
    q.card = card;
    return accepted(q, "renewal");
}

HttpAnswer Peer::setClientInfo(const Bytes& body) {
    OpenedPacket p;
    if (auto refused = openRequest(m_state, body, p)) return *refused;
    Reader r(p.payload);
    const std::uint32_t type = readPermanentHeader(r);
    const Bytes card = r.blob();
    if (r.bad() || type != kPtClientCard || card.empty()) return serverError(SE_DAMAGED, "not a client card payload");
    Request q = requestFrom(RequestKind::Card, p);
    q.card = card;
    return accepted(q, "card of " + std::to_string(card.size()) + " bytes");
}

HttpAnswer Peer::accepted(Request& q, const std::string& what) {
    q.uuid = m_state.newUuid();
    q.state = "held";
    if (!m_hold) answer(q);
    if (!m_state.putRequest(q)) return serverError(SE_INTERNAL, "cannot store the request");
    return binary(uuidAnswer(q.uuid), std::string(kindText(q.kind)) + " accepted as " + q.uuid + " (" + what + ", " +
                                          (q.state == "held" ? "held" : q.response == 0 ? "approved" : "rejected") +
                                          ")");
}

void Peer::answer(Request& q) {
    q.state = "answered";
    q.certificate.clear();
    if (q.kind == RequestKind::Card) {
        q.response = 0;
        q.message = toCp1251("Карточка клиента принята.");
        return;
    }
    const CaKey& ca = m_state.ca(q.caGeneration);
    // A certificate request is signed by the key it asks a certificate for.
    const Bytes expected = q.kind == RequestKind::Pkcs10 ? q.requesterKey : Bytes();
    Bytes cert;
    const std::string refused = issueFromRequest(ca.key, ca.certificate, q.request, expected, kIssuedDays, cert);
    if (refused.empty()) {
        q.response = 0;
        q.message = toCp1251("Сертификат выпущен.");
        q.certificate = cert;
        if (q.kind == RequestKind::Pkcs10) q.requesterSerial = certificateSerialLE(cert);
    } else {
        q.response = 1;
        q.message = toCp1251("Запрос отклонён: ") + refused;
    }
}

HttpAnswer Peer::getPacketOutByUuid(const std::string& uuid) {
    if (!PeerState::isSafeId(uuid)) return serverError(SE_DAMAGED, "malformed identifier");
    auto q = m_state.request(uuid);
    if (!q) return serverError(SE_NOT_FOUND, "unknown identifier");
    if (q->state == "error") return serverError(q->errorNumber, "set by control");
    if (q->state != "answered") return serverError(SE_NOT_REVIEWED, "held");

    Writer answer;
    std::uint32_t type = kPtCertificate;
    if (q->kind == RequestKind::Pkcs10) {
        answer.u32(q->response).blob(q->certificate);
    } else if (q->kind == RequestKind::Prolong) {
        type = kPtProlongAnswer;
        answer.u32(q->response).str(q->message).blob(q->certificate);
    } else {
        type = kPtCardAnswer;
        answer.u32(q->response).str(q->message);
    }
    Writer payload;
    payload.raw(permanentHeader(1, type, kRequesterCa, kPeerVersion)).blob(answer.bytes());
    const Bytes packet = buildPacket(m_state.ca(q->caGeneration), q->requesterKey, q->requesterSerial,
                                     payload.bytes(), true);
    if (packet.empty()) return serverError(SE_INTERNAL, "cannot encrypt for the requester's key");
    return binary(packet, std::string("answer to ") + kindText(q->kind) + ", response " + std::to_string(q->response));
}

HttpAnswer Peer::control(const std::string& path, const std::string& query, const Bytes& body) {
    auto form = parseForm(query);
    const std::size_t slash = path.find('/');
    const std::string verb = path.substr(0, slash);
    const std::string arg = slash == std::string::npos ? "" : path.substr(slash + 1);

    if (isTestControl(verb)) return testControl(m_state, verb, form, body);
    if (verb == "hold") {
        m_hold = arg == "on";
        return text(200, std::string("hold ") + (m_hold ? "on" : "off"));
    }
    if (verb == "requests") {
        std::string list;
        for (const auto& [uuid, q] : m_state.requests())
            list += uuid + " " + kindText(q.kind) + " " + q.state + " " + std::to_string(q.response) + "\n";
        HttpAnswer a = text(200, list);
        a.note = std::to_string(m_state.requests().size()) + " requests";
        return a;
    }
    if (verb == "open-ca") return openForControl(m_state, body);
    if (verb == "envelope") {
        Envelope e;
        e.id = arg;
        e.password = form["password"];
        e.kind = toInt(form["kind"], 80);
        e.status = form.count("status") ? form["status"] : "active";
        e.card = body;
        if (!m_state.putEnvelope(e)) return text(400, "bad envelope identifier");
        return text(200, "envelope " + e.id + " kind " + std::to_string(e.kind) + " " + e.status);
    }
    if (verb == "card" || verb == "pkcs10" || verb == "certificate") {
        // What a request carried, as the CA read it (the client card, the
        // PKCS#10 request), and the certificate issued for it (DER).
        const auto q = PeerState::isSafeId(arg) ? m_state.request(arg) : std::nullopt;
        if (!q) return text(404, "no request " + arg);
        const Bytes& held = verb == "card" ? q->card : verb == "pkcs10" ? q->request : q->certificate;
        if (held.empty()) return text(404, "request " + arg + " carries no " + verb);
        return binary(held, verb + " of " + arg + ", " + std::to_string(held.size()) + " bytes");
    }
    std::string uuid = arg;
    std::string number;
    if (verb == "error") {
        const std::size_t s = arg.find('/');
        uuid = arg.substr(0, s);
        number = s == std::string::npos ? "" : arg.substr(s + 1);
    }
    auto q = PeerState::isSafeId(uuid) ? m_state.request(uuid) : std::nullopt;
    if (!q) return text(404, "no request " + uuid);
    if (verb == "release") {
        answer(*q);
    } else if (verb == "reject") {
        q->state = "answered";
        q->response = static_cast<std::uint32_t>(toInt(form.count("response") ? form["response"] : "1", 1));
        q->message = toCp1251(form.count("message") ? form["message"] : "Запрос отклонён.");
        q->certificate.clear();
    } else if (verb == "error") {
        const int n = toInt(number, -1);
        if (n < 0) return text(400, "bad error number");
        q->state = "error";
        q->errorNumber = static_cast<unsigned>(n);
    } else {
        return text(404, "unknown control " + verb);
    }
    m_state.putRequest(*q);
    return text(200, verb + " " + uuid + ": " + q->state + " " + std::to_string(q->response));
}

}  // namespace capeer
