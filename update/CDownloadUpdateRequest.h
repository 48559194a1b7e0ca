// POST "/api/etc/downloadUpdate": one file of an update package. The body is
// the form text "requesterType=<type>&filename=<name>&version=<version>"
// (no terminator), sent with libcurl's form content type. The answer is the
// file itself, or the transport magic followed by the server's error form.
#pragma once

#include <string>
#include <vector>

#include "core/CBlob.h"
#include "core/eQuorinType.h"
#include "core/export.h"
#include "transport/common/CHTTPPostRequest.h"
#include "transport/common/CTransportServerRequest.h"

class UPD_QN_API CDownloadUpdateRequest : public CHTTPPostRequest, public CTransportServerRequest {
public:
    static constexpr const char* kPath = "/api/etc/downloadUpdate";
    // The largest file of a package the agent downloads (a program's files
    // are far larger than a transport packet, but bounded all the same).
    static constexpr unsigned kMaxFileSize = 256u << 20;

    CDownloadUpdateRequest(tesel::eQuorinType requesterType, std::string fileName,
                           unsigned version);

    // The body text. Returns 0.
    int build(tesel::CBlob& body, std::vector<std::string>& headers) override;

    std::string getBodyText() const;
    const std::string& getFileName() const { return m_fileName; }

private:
    std::string m_fileName;
};
