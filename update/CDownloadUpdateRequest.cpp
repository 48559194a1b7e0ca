#include "update/CDownloadUpdateRequest.h"

#include "update/UpdatePackage.h"

#include "errors/eErrCodes.h"

CDownloadUpdateRequest::CDownloadUpdateRequest(tesel::eQuorinType requesterType,
                                               std::string fileName, unsigned version)
    : CHTTPPostRequest(kPath),
      CTransportServerRequest(requesterType, tesel::PT_UNDEFINED, 0, version),
      m_fileName(std::move(fileName)) {
    setBinaryContent(false);
    // The list is small and read before anything else: a longer answer ends
    // the transfer while it is received.
    setMaxResponseSize(m_fileName == qn::update::kInfoFileName ? qn::update::kMaxInfoSize : kMaxFileSize);
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
