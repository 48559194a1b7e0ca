#include "webpackets/CGetErrorListWebPacket.h"

#include <string>
#include <utility>
#include <vector>

#include "core/TextConvert.h"
#include "errors/CError.h"

namespace {

tesel::CBlob buildErrorListRecords() {
    const std::map<eErrCodes, std::string> errors = CError::instance().getMapErrors();
    std::vector<std::pair<unsigned, std::string>> records;
    records.reserve(errors.size());
    unsigned size = 0;
    for (const auto& [code, text] : errors) {
        records.emplace_back(static_cast<unsigned>(code), tesel::convertToUTF8(text));
        size += tesel::CBlob::sizeOfInt() + tesel::CBlob::sizeOf(records.back().second);
    }
    tesel::CBlob blob(size);
    for (const auto& [code, text] : records) {
        blob.serialize(code);
        blob.serialize(text);
    }
    return blob;
}

}  // namespace

CGetErrorListWebPacket::CGetErrorListWebPacket() : CWebPacket(GET_ERROR_LIST_ANSWER, 1) {}

const tesel::CBlob& CGetErrorListWebPacket::errorListRecords() {
    // Never destroyed: service threads may still be replying at exit.
    static const tesel::CBlob* const records = new tesel::CBlob(buildErrorListRecords());
    return *records;
}

int CGetErrorListWebPacket::process(tesel::CBlob& reply) {
    const tesel::CBlob& records = errorListRecords();
    tesel::CBlob answer = codeAnswer(ERR_OK, records.getSize());
    answer.serialize(records.getData(), records.getSize());
    reply = std::move(answer);
    return 0;
}
