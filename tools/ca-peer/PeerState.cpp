#include "PeerState.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "CaCertificates.h"

namespace fs = std::filesystem;

namespace capeer {

namespace {

using Record = std::map<std::string, std::string>;  // name -> text value

bool readFile(const fs::path& path, Bytes& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// Written beside the target and renamed, so a crash never leaves half a file.
bool writeFile(const fs::path& path, const Bytes& data) {
    const fs::path tmp = path.string() + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        if (!out) return false;
    }
    std::error_code ec;
    fs::rename(tmp, path, ec);
    return !ec;
}

Record readRecord(const fs::path& path) {
    Record r;
    Bytes raw;
    if (!readFile(path, raw)) return r;
    std::istringstream lines(textOf(raw));
    std::string line;
    while (std::getline(lines, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) r[line.substr(0, eq)] = textOf(unhex(line.substr(eq + 1)));
    }
    return r;
}

bool writeRecord(const fs::path& path, const Record& r) {
    std::string text;
    for (const auto& [name, value] : r) text += name + "=" + hexOf(bytesOf(value)) + "\n";
    return writeFile(path, bytesOf(text));
}

const char* kindName(RequestKind k) {
    return k == RequestKind::Pkcs10 ? "pkcs10" : k == RequestKind::Prolong ? "prolong" : "card";
}

RequestKind kindOf(const std::string& s) {
    return s == "prolong" ? RequestKind::Prolong : s == "card" ? RequestKind::Card : RequestKind::Pkcs10;
}

unsigned long toNumber(const std::string& s) {
    try {
        return std::stoul(s);
    } catch (...) {
        return 0;
    }
}

int toInt(const std::string& s) {
    try {
        return std::stoi(s);
    } catch (...) {
        return 0;
    }
}

}  // namespace

bool PeerState::open(const std::string& folder, std::string& error) {
    m_folder = folder;
    std::error_code ec;
    fs::create_directories(fs::path(folder) / "envelopes", ec);
    fs::create_directories(fs::path(folder) / "requests", ec);
    if (ec) {
        error = "cannot create the state folder " + folder + ": " + ec.message();
        return false;
    }
    if (!loadOrMakeCa(2001, m_ca2001, error) || !loadOrMakeCa(2012, m_ca2012, error)) return false;
    loadEnvelopes();
    loadRequests();
    return true;
}

bool PeerState::loadOrMakeCa(int generation, CaKey& out, std::string& error) {
    const std::string base = (fs::path(m_folder) / ("ca" + std::to_string(generation))).string();
    out.generation = generation;
    out.key = loadKey(base + ".key");
    Bytes cert;
    if (out.key && readFile(base + ".cer", cert) && !cert.empty()) {
        out.certificate = cert;
    } else {
        // CA keys on the curves the program's keys use: 34.10-2001 on the
        // CryptoPro A set, 34.10-2012/256 on the exchange set XA.
        out.key = generation == 2001 ? generateKey(KeyClass::G2001, "A") : generateKey(KeyClass::G2012_256, "XA");
        if (!out.key) {
            error = "cannot make the GOST " + std::to_string(generation) + " CA key";
            return false;
        }
        out.certificate = makeCaCertificate(out.key, "Pellamo Test CA GOST " + std::to_string(generation), 3650);
        if (out.certificate.empty() || !saveKey(out.key, base + ".key") || !writeFile(base + ".cer", out.certificate)) {
            error = "cannot write the GOST " + std::to_string(generation) + " CA into " + m_folder;
            return false;
        }
    }
    out.blob = publicBlob(out.key);
    if (out.blob.empty()) {
        error = "the GOST " + std::to_string(generation) + " CA key has no public key blob";
        return false;
    }
    return true;
}

bool PeerState::isSafeId(const std::string& id) {
    if (id.empty() || id.size() > 64) return false;
    for (char c : id) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                        c == '_';
        if (!ok) return false;
    }
    return true;
}

void PeerState::loadEnvelopes() {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fs::path(m_folder) / "envelopes", ec)) {
        if (entry.path().extension() != ".env") continue;
        Record r = readRecord(entry.path());
        Envelope e;
        e.id = entry.path().stem().string();
        e.password = r["password"];
        e.kind = toInt(r["kind"]);
        e.status = r["status"].empty() ? "active" : r["status"];
        e.card = bytesOf(r["card"]);
        m_envelopes[e.id] = e;
    }
}

void PeerState::loadRequests() {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fs::path(m_folder) / "requests", ec)) {
        if (entry.path().extension() != ".req") continue;
        Record r = readRecord(entry.path());
        Request q;
        q.uuid = entry.path().stem().string();
        q.kind = kindOf(r["kind"]);
        q.state = r["state"];
        q.errorNumber = static_cast<unsigned>(toNumber(r["error"]));
        q.response = static_cast<std::uint32_t>(toNumber(r["response"]));
        q.message = r["message"];
        q.caGeneration = toNumber(r["ca"]) == 2001 ? 2001 : 2012;
        q.requesterKey = bytesOf(r["requester"]);
        q.requesterSerial = bytesOf(r["serial"]);
        q.request = bytesOf(r["request"]);
        q.certificate = bytesOf(r["certificate"]);
        q.convertId = r["convertId"];
        q.card = bytesOf(r["card"]);
        m_requests[q.uuid] = q;
    }
}

std::optional<Envelope> PeerState::envelope(const std::string& id) const {
    const auto it = m_envelopes.find(id);
    if (it == m_envelopes.end()) return std::nullopt;
    return it->second;
}

bool PeerState::putEnvelope(const Envelope& e) {
    if (!isSafeId(e.id)) return false;
    m_envelopes[e.id] = e;
    Record r{{"password", e.password},
             {"kind", std::to_string(e.kind)},
             {"status", e.status},
             {"card", textOf(e.card)}};
    return writeRecord(fs::path(m_folder) / "envelopes" / (e.id + ".env"), r);
}

std::optional<Request> PeerState::request(const std::string& uuid) const {
    const auto it = m_requests.find(uuid);
    if (it == m_requests.end()) return std::nullopt;
    return it->second;
}

bool PeerState::putRequest(const Request& q) {
    if (!isSafeId(q.uuid)) return false;
    m_requests[q.uuid] = q;
    Record r{{"kind", kindName(q.kind)},
             {"state", q.state},
             {"error", std::to_string(q.errorNumber)},
             {"response", std::to_string(q.response)},
             {"message", q.message},
             {"ca", std::to_string(q.caGeneration)},
             {"requester", textOf(q.requesterKey)},
             {"serial", textOf(q.requesterSerial)},
             {"request", textOf(q.request)},
             {"certificate", textOf(q.certificate)},
             {"convertId", q.convertId},
             {"card", textOf(q.card)}};
    return writeRecord(fs::path(m_folder) / "requests" / (q.uuid + ".req"), r);
}

std::string PeerState::newUuid() const {
    // Version 4 UUID, lower-case hex in 8-4-4-4-12 groups.
    Bytes b = randomBytes(16);
    b.resize(16);
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);
    const std::string h = hexOf(b);
    return h.substr(0, 8) + "-" + h.substr(8, 4) + "-" + h.substr(12, 4) + "-" + h.substr(16, 4) + "-" + h.substr(20);
}

}  // namespace capeer
