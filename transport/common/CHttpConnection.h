// The blocking HTTP client on libcurl's easy interface. One send is one
// transfer on a fresh handle; nothing is kept between transfers. Results:
// 0, 18 when the server cannot be reached (connect failure or connect
// timeout), 21 for any other transfer failure (also when no handle can be
// made, and when the body exceeds the request's size cap), or the request's
// own build() failure.
#pragma once

#include <cstddef>
#include <string>

#include "core/export.h"
#include "transport/common/CBaseConnection.h"
#include "transport/common/CHTTPGetRequest.h"
#include "transport/common/CHTTPPostRequest.h"

class UPD_QN_API CHttpConnection : public tesel::CBaseConnection {
public:
    CHttpConnection() = default;
    CHttpConnection(std::string host, unsigned port);

    int send(CHTTPPostRequest& request);
    int send(CHTTPGetRequest& request);

    // Whether a POST with a body follows HTTP redirects (on by default; the
    // update agent's connection turns it off).
    bool isFollowingRedirects() const { return m_followRedirects; }

protected:
    void setFollowRedirects(bool follow) { m_followRedirects = follow; }

private:
    // One transfer for either method; post is the request itself for a POST
    // (its body and headers are built and attached) and null for a GET.
    int transfer(CBaseHTTPRequest& request, CHTTPPostRequest* post);

    bool m_followRedirects = true;
};

// The libcurl write callback: appends size * count bytes to the CBlob that
// target points to and returns that count. A body that would no longer fit a
// CBlob (4 GiB) or a failed allocation makes it return 0, which aborts the
// transfer; it never throws. send() wraps it with the request's size cap
// (CBaseHTTPRequest::getMaxResponseSize).
UPD_QN_API std::size_t WriteMemoryCallback(void* data, std::size_t size, std::size_t count,
                                           void* target);

namespace qn::http_transport {

// libcurl's process-wide initialisation, done once however many threads
// call it at the same time. Returns false when libcurl could not be set up.
// send calls it itself.
UPD_QN_API bool initCurlOnce();

}  // namespace qn::http_transport
