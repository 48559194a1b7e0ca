#include "transport/common/CHTTPGetRequest.h"

CHTTPGetRequest::CHTTPGetRequest() { m_type = HTTP_GET; }

CHTTPGetRequest::CHTTPGetRequest(std::string url) : CBaseHTTPRequest(std::move(url)) {
    m_type = HTTP_GET;
}

int CHTTPGetRequest::init() {
    m_type = HTTP_GET;
    return 0;
}
