#include "transport/common/CHttpConnection.h"

#include <curl/curl.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "errors/eErrCodes.h"
#include "transport/common/TransportHeader.h"

using tesel::CBlob;

namespace qn::http_transport {

bool initCurlOnce() {
    // A function-local static is initialised exactly once, even when several
    // threads arrive at the same time.
    static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ok;
}

}  // namespace qn::http_transport

namespace {

constexpr const char* kBinaryContentType = "Content-Type:application/octet-stream";

int mapCurlResult(CURLcode result) {
    if (result == CURLE_OK) return ERR_OK;
    if (result == CURLE_COULDNT_CONNECT || result == CURLE_OPERATION_TIMEDOUT)
        return ERR_SERVER_UNREACHABLE;
    return ERR_SERVER_TRANSFER;
}

// Owns an easy handle and its header list for the length of one transfer.
struct Transfer {
    CURL* curl = curl_easy_init();
    curl_slist* headers = nullptr;

    Transfer() = default;
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;
    ~Transfer() {
        if (curl) curl_easy_cleanup(curl);
        curl_slist_free_all(headers);
    }

    bool addHeader(const std::string& line) {
        curl_slist* grown = curl_slist_append(headers, line.c_str());
        if (grown == nullptr) return false;
        headers = grown;
        return true;
    }
};

// The write target of a transfer: the response and how much it may grow.
struct BoundedResponse {
    CBlob* blob;
    std::size_t limit;
};

std::size_t writeBounded(char* data, std::size_t size, std::size_t count, void* target) {
    auto* sink = static_cast<BoundedResponse*>(target);
    if (size != 0 && count > std::numeric_limits<std::size_t>::max() / size) return 0;
    const std::size_t n = size * count;
    const std::size_t held = sink->blob->getSize();
    // A short count makes libcurl end the transfer with a write error.
    if (held > sink->limit || n > sink->limit - held) return 0;
    return WriteMemoryCallback(data, size, count, sink->blob);
}

}  // namespace

CHttpConnection::CHttpConnection(std::string host, unsigned port)
    : tesel::CBaseConnection(std::move(host), port) {}

int CHttpConnection::send(CHTTPPostRequest& request) { return transfer(request, &request); }

int CHttpConnection::send(CHTTPGetRequest& request) { return transfer(request, nullptr); }

int CHttpConnection::transfer(CBaseHTTPRequest& request, CHTTPPostRequest* post) {
    if (!qn::http_transport::initCurlOnce()) return ERR_SERVER_TRANSFER;
    Transfer t;
    if (t.curl == nullptr) return ERR_SERVER_TRANSFER;

    std::string host;
    unsigned port = 0;
    snapshot(host, port);
    const std::string url = host + request.getUrl();
    curl_easy_setopt(t.curl, CURLOPT_URL, url.c_str());

    // Kept alive until the transfer is done: libcurl reads the POST data in place.
    CBlob body;
    if (post != nullptr) {
        std::vector<std::string> extraHeaders;
        const int built = post->build(body, extraHeaders);
        if (built != 0) return built;

        // Without a body no POST data is set and the transfer goes out as a GET.
        if (!body.isEmpty()) {
            curl_easy_setopt(t.curl, CURLOPT_POSTFIELDS, body.getData());
            curl_easy_setopt(t.curl, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(body.getSize()));
            if (post->isBinaryContent() && !t.addHeader(kBinaryContentType))
                return ERR_SERVER_TRANSFER;
            if (isFollowingRedirects()) curl_easy_setopt(t.curl, CURLOPT_FOLLOWLOCATION, 1L);
        }
        for (const std::string& line : extraHeaders) {
            if (!t.addHeader(line)) return ERR_SERVER_TRANSFER;
        }
        if (t.headers != nullptr) curl_easy_setopt(t.curl, CURLOPT_HTTPHEADER, t.headers);
    }

    CBlob response;
    applyDefaultSettings(t.curl, &response, port);
    // A server cannot make the program hold more than the request expects:
    // a declared length above the cap is refused at once, a longer body when
    // it gets there.
    const unsigned cap = request.getMaxResponseSize() != 0 ? request.getMaxResponseSize()
                                                           : qn::http_transport::getMaxPacketSize();
    BoundedResponse sink{&response, cap};
    curl_easy_setopt(t.curl, CURLOPT_WRITEFUNCTION, &writeBounded);
    curl_easy_setopt(t.curl, CURLOPT_WRITEDATA, static_cast<void*>(&sink));
    curl_easy_setopt(t.curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(cap));
    if (request.getTotalTimeout() != 0)
        curl_easy_setopt(t.curl, CURLOPT_TIMEOUT, static_cast<long>(request.getTotalTimeout()));
    const int result = mapCurlResult(curl_easy_perform(t.curl));
    if (result == ERR_OK) request.setResponse(response);
    return result;
}

std::size_t WriteMemoryCallback(void* data, std::size_t size, std::size_t count, void* target) {
    auto* blob = static_cast<CBlob*>(target);
    if (blob == nullptr) return 0;
    if (size != 0 && count > std::numeric_limits<std::size_t>::max() / size) return 0;
    const std::size_t n = size * count;
    if (n == 0) return 0;
    if (n > std::numeric_limits<std::uint32_t>::max() - blob->getSize()) return 0;
    // Nothing may be thrown through libcurl's C frames: a failed allocation
    // ends the transfer instead.
    try {
        blob->add(static_cast<const unsigned char*>(data), static_cast<unsigned>(n));
    } catch (...) {
        return 0;
    }
    return n;
}
