#include "core/RandomString.h"

#include <random>

namespace tesel {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890";
// 36 buckets of 119304647 values cover 0..4294967291; larger draws are
// rejected so that every character is equally likely.
constexpr std::uint32_t kBucket = 119304647;
constexpr std::uint32_t kLastAccepted = 4294967291u;
static_assert(sizeof(kAlphabet) - 1 == 36 && kBucket * 36 - 1 == kLastAccepted);

std::uint32_t seedValue() {
    // Not every standard library knows the "mt19937" token (libstdc++ on
    // Linux rejects it); the default device is an equally good seed source.
    try {
        std::random_device device("mt19937");
        return device();
    } catch (const std::exception&) {
        std::random_device device;
        return device();
    }
}

}  // namespace

std::string getRandomString(int length) {
    if (length <= 0) return {};
    std::mt19937 engine(seedValue());
    return getRandomString(engine, length);
}

std::string getRandomString(std::mt19937& engine, int length) {
    if (length <= 0) return {};
    std::string out;
    out.reserve(static_cast<std::size_t>(length));
    for (int i = 0; i < length; ++i) {
        std::uint32_t u = engine();
        while (u > kLastAccepted) u = engine();
        out.push_back(kAlphabet[u / kBucket]);
    }
    return out;
}

}  // namespace tesel
