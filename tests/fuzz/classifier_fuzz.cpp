// libFuzzer target for the classifier answer reader: any answer is read
// front to back once, every item it gives lies inside the text with its
// three values in order of their quotes, no more items than asked for, and
// the items handed to the program are at most the eight asked for.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "transport/CKladrRequest.h"

namespace {

void inside(std::size_t start, std::size_t end, std::size_t size) {
    if (start > end || end > size) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t maxItems = data[0] % 12;
    // A heap copy of exactly the input bytes, so that ASan sees any read past it.
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::size_t steps = 0;
    const std::vector<KladrItemSpan> spans = readKladrItems(text.data(), text.size(), maxItems, &steps);
    if (spans.size() > maxItems || steps > text.size()) __builtin_trap();
    const void* zero = std::memchr(text.data(), 0, text.size());
    const std::size_t end = zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - text.data()) : text.size();
    for (const KladrItemSpan& s : spans) {
        inside(s.nameStart, s.nameEnd, end);
        inside(s.typeStart, s.typeEnd, end);
        inside(s.idStart, s.idEnd, end);
        // Each value ends at its closing quote.
        if (text[s.nameEnd] != '"' || text[s.typeEnd] != '"' || text[s.idEnd] != '"') __builtin_trap();
    }
    const KLADR_CONT_TYPE type = static_cast<KLADR_CONT_TYPE>(data[0] % 3);
    if (CKladrRequest::scanItems(text, type).size() > CKladrRequest::kItemLimit) __builtin_trap();
    return 0;
}
