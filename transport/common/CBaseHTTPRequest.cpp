#include "transport/common/CBaseHTTPRequest.h"

CBaseHTTPRequest::CBaseHTTPRequest(std::string url) : m_url(std::move(url)) {}
