#include "transport/common/CHTTPPostRequest.h"

CHTTPPostRequest::CHTTPPostRequest() { m_type = HTTP_POST; }

CHTTPPostRequest::CHTTPPostRequest(std::string url) : CBaseHTTPRequest(std::move(url)) {
    m_type = HTTP_POST;
}

int CHTTPPostRequest::init() {
    m_type = HTTP_POST;
    return 0;
}
