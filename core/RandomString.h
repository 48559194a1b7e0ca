// Random strings for envelope numbers and PINs of client cards.
#pragma once

#include <random>
#include <string>

#include "core/export.h"

namespace tesel {

// `length` characters drawn uniformly from "ABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890"
// by a std::mt19937 seeded once per call from std::random_device. A length of
// 0 or less gives "".
UPD_QN_API std::string getRandomString(int length);

// The same drawing from a caller's engine (reproducible with a fixed seed).
UPD_QN_API std::string getRandomString(std::mt19937& engine, int length);

}  // namespace tesel
