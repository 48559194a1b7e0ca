#include "update/CGetVersionProgramRequest.h"

#include <string>

CGetVersionProgramRequest::CGetVersionProgramRequest(tesel::eQuorinType requesterType)
    : CHTTPGetRequest(std::string(kPath) + std::to_string(static_cast<int>(requesterType))),
      CTransportServerRequest(requesterType, tesel::PT_UNDEFINED) {}
