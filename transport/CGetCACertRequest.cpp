#include "transport/CGetCACertRequest.h"

#include "errors/eErrCodes.h"

namespace {

const char* pathFor(qn::crypto::eGostCrypto variant) {
    return variant == qn::crypto::GOST_2001 ? "/api/etc/getCertCA" : "/api/etc/getCertCA_2012";
}

}  // namespace

CGetCACertRequest::CGetCACertRequest(qn::crypto::eGostCrypto variant)
    : CHTTPGetRequest(pathFor(variant)) {}

int CGetCACertRequest::decode(tesel::CBlob& certificate) const {
    certificate = getResponse();
    return ERR_OK;
}
