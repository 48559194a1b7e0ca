#include "update/CDownloadUpdateRequest.h"

#include "errors/eErrCodes.h"

CDownloadUpdateRequest::CDownloadUpdateRequest(tesel::eQuorinType requesterType,
                                               std::string fileName, unsigned version)
    : CHTTPPostRequest(kPath),
      CTransportServerRequest(requesterType, tesel::PT_UNDEFINED, 0, version),
      m_fileName(std::move(fileName)) {
    setBinaryContent(false);
    setMaxResponseSize(kMaxFileSize);
}

std::string CDownloadUpdateRequest::getBodyText() const {
    return "requesterType=" + std::to_string(static_cast<int>(getRequesterType())) +
           "&filename=" + m_fileName + "&version=" + std::to_string(CTransportServerRequest::getVersion());
}

int CDownloadUpdateRequest::build(tesel::CBlob& body, std::vector<std::string>& /*headers*/) {
    const std::string text = getBodyText();
    body.init(reinterpret_cast<const unsigned char*>(text.data()), static_cast<unsigned>(text.size()));
    return ERR_OK;
}
