// A GET request: a plain object constructed with its URL path.
#pragma once

#include <string>

#include "core/export.h"
#include "transport/common/CBaseHTTPRequest.h"

class UPD_QN_API CHTTPGetRequest : public CBaseHTTPRequest {
public:
    CHTTPGetRequest();
    explicit CHTTPGetRequest(std::string url);

    // Sets the method to GET. Returns 0.
    int init();
};
