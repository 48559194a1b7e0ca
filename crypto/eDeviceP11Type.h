// The vendor family of a PKCS#11 token: it decides the library, the default
// user PIN and how long texts are encrypted.
#pragma once

namespace qn::crypto {

enum eDeviceP11Type : int {
    P11_DEVICE_NONE = -1,
    P11_DEVICE_RUTOKEN = 0,
    P11_DEVICE_JACARTA = 1,
};

}  // namespace qn::crypto
