// GET "/api/etc/getLatestVersion/<requester type>": the latest published
// version of a product variant. The answer is the transport magic followed
// by the version as decimal ASCII digits.
#pragma once

#include "core/eQuorinType.h"
#include "core/export.h"
#include "transport/common/CHTTPGetRequest.h"
#include "transport/common/CTransportServerRequest.h"

class UPD_QN_API CGetVersionProgramRequest : public CHTTPGetRequest,
                                             public CTransportServerRequest {
public:
    static constexpr const char* kPath = "/api/etc/getLatestVersion/";

    explicit CGetVersionProgramRequest(tesel::eQuorinType requesterType);
};
