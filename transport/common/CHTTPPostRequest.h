// A POST request. Each concrete request writes its body in build(); it may
// also add whole header lines. Binary bodies are sent with the content type
// "application/octet-stream"; with the flag cleared libcurl's form type
// applies.
#pragma once

#include <string>
#include <vector>

#include "core/CBlob.h"
#include "core/export.h"
#include "transport/common/CBaseHTTPRequest.h"

class UPD_QN_API CHTTPPostRequest : public CBaseHTTPRequest {
public:
    CHTTPPostRequest();
    explicit CHTTPPostRequest(std::string url);
    virtual ~CHTTPPostRequest() = default;

    // Sets the method to POST. Returns 0.
    int init();

    bool isBinaryContent() const { return m_binaryContent; }
    void setBinaryContent(bool binary) { m_binaryContent = binary; }

    // Writes the request body into body and may append extra header lines.
    // A non-zero result is returned by send unchanged, and nothing is sent.
    virtual int build(tesel::CBlob& body, std::vector<std::string>& headers) = 0;

private:
    bool m_binaryContent = true;
};
