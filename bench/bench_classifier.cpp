// Speed of the classifier answer reader on crafted answers of 0.9 MB that a
// reader starting its search over for every item pays quadratically for
// (names far from the one short type; many items; long escape runs; many
// objects before the only item), beside the floor of the same run: a memory
// copy of the same bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "transport/CKladrRequest.h"

namespace {

constexpr std::size_t kSize = 900000;

const std::string& answer(int shape) {
    static const std::vector<std::string> answers = [] {
        std::string farType, manyItems = "[", escapes = R"({"id":"1","name":")", lateItem = "[";
        while (farType.size() < kSize) farType += R"({"name":"a","id":"1"},)";
        farType += R"("typeShort":"t")";
        while (manyItems.size() < kSize) manyItems += R"({"id":"1","name":"a","typeShort":"t"},)";
        while (escapes.size() < kSize) escapes += R"(\\\\\\\"\")";
        escapes += R"(","typeShort":"t"})";
        while (lateItem.size() < kSize) lateItem += R"({"zip":null,"id":"1","type":"t"},)";
        lateItem += R"({"id":"1","name":"a","typeShort":"t"}])";
        return std::vector<std::string>{farType, manyItems, escapes, lateItem};
    }();
    return answers[static_cast<std::size_t>(shape)];
}

void BM_ReadKladrItems(benchmark::State& state) {
    const std::string& text = answer(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto items = CKladrRequest::scanItems(text, KLADR_STREET);
        benchmark::DoNotOptimize(items);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

// The floor: the same bytes copied once.
void BM_MemCopy(benchmark::State& state) {
    const std::string& text = answer(static_cast<int>(state.range(0)));
    std::vector<char> out(text.size());
    for (auto _ : state) {
        std::memcpy(out.data(), text.data(), text.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

}  // namespace

// 0: names far from the short type (the reading ends at the first item,
// which has none), 1: many items (it ends after nine), 2: one name of long
// escape runs and 3: objects without items up to the one at the end (both
// read to the end: the shapes to hold against the copy).
BENCHMARK(BM_ReadKladrItems)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MemCopy)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
