// The token tests run the provider against the software token: two copies of
// the module (one per device type, so that each sees only its own slots),
// a temporary token folder and a slot configuration that a test may
// replace (the modules are then initialised again and read it anew).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "crypto/CryptoP11.h"
#include "crypto/Crypto1By1Connect.h"
#include "errors/eErrCodes.h"

namespace tokentest {

using Bytes = std::vector<unsigned char>;
using qn::crypto::CryptoP11;

// A JaCarta slot (model "JaCarta GOST 2.0", wrapped keys with their UKM)
// and a Rutoken slot (36-byte wrapped keys), with the default PINs.
extern const char* const kDefaultConfig;

const std::string& folder();
// Writes the configuration, empties the tokens and initialises both
// modules again. Providers opened before are stale afterwards.
void reset(const std::string& config = kDefaultConfig);
CK_FUNCTION_LIST_PTR functions(qn::crypto::eDeviceP11Type type);

inline tesel::CBlob blobOf(const Bytes& b) { return tesel::CBlob(b.data(), static_cast<unsigned>(b.size())); }
inline Bytes bytesOf(const tesel::CBlob& b) { return Bytes(b.getData(), b.getData() + b.getSize()); }
inline Bytes textBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Factories that own their result; the status is in r.
std::unique_ptr<CryptoP11> create(const std::string& name, qn::crypto::eSupportCP kind, unsigned& r);
std::unique_ptr<CryptoP11> open(const std::string& name, qn::crypto::eSupportCP kind, unsigned& r);
std::unique_ptr<qn::crypto::Crypto1By1Connect> connect(const std::string& name, qn::crypto::eSupportCP kind,
                                                       unsigned& r);

// Counts the calls of a few multi-part functions of a module while alive
// (the module's function list is patched and restored).
class CallCounter {
public:
    explicit CallCounter(qn::crypto::eDeviceP11Type type);
    ~CallCounter();
    std::vector<CK_ULONG> encryptUpdates, decryptUpdates;
    int encryptFinals = 0, decryptFinals = 0, encryptCalls = 0, decryptCalls = 0;

private:
    CK_FUNCTION_LIST_PTR m_list;
    CK_FUNCTION_LIST m_saved;
};

class TokenTest : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
};

}  // namespace tokentest
