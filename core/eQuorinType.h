// Product variant of a sender; also selects the caption of message boxes.
#pragma once

namespace tesel {

enum eQuorinType : int {
    QN_UNSPECIFIED = 0,
    QN_CLIENT = 1,
    QN_PARTNER = 2,
    QN_CA = 3,
    QN_PLUGIN = 4,
};

}  // namespace tesel
