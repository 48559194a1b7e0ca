// libFuzzer target for the register and classifier answer scanners and the
// value decoder: any answer text must scan without reading past its end,
// the register always gives fifteen values, and no decoded value is longer
// than the decoder's limit allows.
#include <cstddef>
#include <cstdint>
#include <string>

#include "transport/CEgrulRequest.h"
#include "transport/CKladrRequest.h"
#include "transport/decodeSymbolTag.h"

namespace {

// A decoded value holds at most 128 units; in CP1251 every unit is one byte.
void expectBounded(const std::string& value) {
    if (value.size() > qn::http_transport::kMaxSymbolTagUnits) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const unsigned begin = data[0];
    const unsigned end = data[1];
    // The text is built from a heap copy of exactly the input bytes, so ASan
    // sees any read past it.
    const std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);

    const std::vector<std::string> values = CEgrulRequest::scanValues(text);
    if (values.size() != CEgrulRequest::kValueCount) __builtin_trap();
    for (const std::string& value : values) expectBounded(value);
    std::string region = values[CEgrulRequest::kRegionValue];
    CEgrulRequest::shortRegionNameFromEGRUL(region);

    const KLADR_CONT_TYPE type = static_cast<KLADR_CONT_TYPE>(begin % 3);
    for (const kladrItem& item : CKladrRequest::scanItems(text, type)) {
        if (item.id.size() > text.size()) __builtin_trap();
    }

    expectBounded(qn::http_transport::decodeSymbolTag(&text, begin, end));
    expectBounded(qn::http_transport::decodeSymbolTag(&text, 0, static_cast<unsigned>(text.size())));
    return 0;
}
