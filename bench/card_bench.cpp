// Writing and reading a client card with three 1 MiB attachments, next to a
// plain copy of the same number of bytes for scale.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "client/CClient.h"

namespace {

constexpr unsigned kAttachmentSize = 1u << 20;

tesel::CClient makeCard() {
    tesel::CClient c;
    c.setINN("5032149676");
    c.setOGRN("1025032149670");
    c.setCompanyName("Company");
    c.setSurname("Petrov");
    c.setName("Petr");
    c.setEmail("petrov@example.ru");
    c.setAddOid(tesel::ENH_B2B, true);
    std::vector<unsigned char> bytes(kAttachmentSize, 0xA5);
    for (int i = 0; i < 3; ++i) {
        bytes[0] = static_cast<unsigned char>(i);
        c.addAttachment(tesel::CBlob(bytes.data(), kAttachmentSize), "scan.pdf",
                        static_cast<tesel::eAttacmentDocType>(i + 1));
    }
    return c;
}

void BM_CardWrite(benchmark::State& state) {
    const tesel::CClient card = makeCard();
    std::size_t bytes = 0;
    for (auto _ : state) {
        tesel::CBlob out = card.PartnerInfoToBinary();
        bytes += out.getSize();
        benchmark::DoNotOptimize(out.getData());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_CardWrite)->Unit(benchmark::kMillisecond);

void BM_CardRead(benchmark::State& state) {
    const tesel::CBlob written = makeCard().PartnerInfoToBinary();
    std::size_t bytes = 0;
    for (auto _ : state) {
        // The reader works on the caller's blob; give it the same bytes each
        // time without timing that copy.
        state.PauseTiming();
        tesel::CBlob card(written.getData(), written.getSize());
        state.ResumeTiming();
        tesel::CClient client;
        bool converted = false;
        if (client.BinaryToPartnerInfo(&card, converted) != 0) state.SkipWithError("decode failed");
        bytes += card.getSize();
        benchmark::DoNotOptimize(client.getAttachments().data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_CardRead)->Unit(benchmark::kMillisecond);

// Reference: allocate and copy the same number of bytes once.
void BM_MemCopy(benchmark::State& state) {
    const tesel::CBlob written = makeCard().PartnerInfoToBinary();
    std::size_t bytes = 0;
    for (auto _ : state) {
        tesel::CBlob copy(written.getData(), written.getSize());
        bytes += copy.getSize();
        benchmark::DoNotOptimize(copy.getData());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_MemCopy)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
