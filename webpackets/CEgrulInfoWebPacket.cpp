#include "webpackets/CEgrulInfoWebPacket.h"

#include <string>
#include <utility>
#include <vector>

#include "core/TextConvert.h"
#include "errors/eErrCodes.h"
#include "transport/CEgrulRequest.h"
#include "transport/CKladrRequest.h"

CEgrulInfoWebPacket::CEgrulInfoWebPacket(tesel::CBlob payload) : CWebPacket(std::move(payload), EGRUL_INFO_ANSWER) {}

int CEgrulInfoWebPacket::process(tesel::CBlob& reply) {
    std::string inn;
    unsigned type = 0;
    m_payload.deserialize(&inn);
    m_payload.deserialize(type);
    if (replyIfMalformed(reply)) return 0;

    if (type != static_cast<unsigned>(tesel::TS_LEGAL_ENTITY) || inn.size() != kInnLength) {
        reply = codeAnswer(ERR_OK);
        return 0;
    }

    std::vector<std::string> values;
    if (const int status = getEgrulInfo(inn, tesel::TS_LEGAL_ENTITY, values)) {
        reply = codeAnswer(status);
        return 0;
    }
    values.resize(CEgrulRequest::kValueCount);
    CEgrulRequest::shortRegionNameFromEGRUL(values[CEgrulRequest::kRegionValue]);

    // Only whether the classifier answers matters here; its items are not used.
    std::vector<kladrItem> items;
    std::string parentId;
    if (const int status = getKladrInfo(values[CEgrulRequest::kRegionValue], KLADR_REGION, parentId, items))
        return status;

    unsigned size = 0;
    for (std::string& value : values) {
        value = tesel::convertToUTF8(value);
        size += tesel::CBlob::sizeOf(value);
    }
    // Constructed, not assigned: assignment would put the cursor back to the start.
    tesel::CBlob answer = codeAnswer(ERR_OK, tesel::CBlob::sizeOfInt() + size);
    answer.serialize(size);
    for (const std::string& value : values) answer.serialize(value);
    reply = std::move(answer);
    return 0;
}
