// Where the user's certificates live.
#pragma once

namespace tesel {

enum eCertStore : int {
    CERT_STORE_UNDEFINED = -1,
    CERT_STORE_SYSTEM = 0,   // the current user's system store "MY"
    CERT_STORE_JACARTA = 1,  // a JaCarta token
    CERT_STORE_RUTOKEN = 2,  // a Rutoken token
};

}  // namespace tesel
