// An HTTP request: its URL path (with query), its method and, after a
// successful exchange, the raw response body. The status line is never
// looked at; callers recognise bad answers by their content.
#pragma once

#include <string>

#include "core/CBlob.h"
#include "core/export.h"

enum HTTPType : int {
    HTTP_GET = 0,
    HTTP_POST = 1,
};

class UPD_QN_API CBaseHTTPRequest {
public:
    CBaseHTTPRequest() = default;
    explicit CBaseHTTPRequest(std::string url);

    std::string getUrl() const { return m_url; }
    void setUrl(std::string url) { m_url = std::move(url); }
    HTTPType getType() const { return m_type; }
    void setType(HTTPType type) { m_type = type; }
    // A copy of the body received by the last successful send (offset 0).
    tesel::CBlob getResponse() const { return m_response; }
    void setResponse(const tesel::CBlob& response) { m_response = response; }

    // The largest body a send accepts; a larger one ends the transfer with
    // 21. 0 (the default) stands for the packet limit in force
    // (qn::http_transport::getMaxPacketSize).
    unsigned getMaxResponseSize() const { return m_maxResponseSize; }
    void setMaxResponseSize(unsigned bytes) { m_maxResponseSize = bytes; }

    // The longest the whole exchange may take, in seconds; 0 (the default)
    // sets no bound beyond the connection's own (a connect timeout, and an
    // end when the server stops sending).
    unsigned getTotalTimeout() const { return m_totalTimeoutSeconds; }
    void setTotalTimeout(unsigned seconds) { m_totalTimeoutSeconds = seconds; }

protected:
    std::string m_url;
    HTTPType m_type = HTTP_GET;
    tesel::CBlob m_response;
    unsigned m_maxResponseSize = 0;
    unsigned m_totalTimeoutSeconds = 0;
};
