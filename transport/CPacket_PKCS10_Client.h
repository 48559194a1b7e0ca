// A certificate request of the client; its answer is response and
// certificate.
#pragma once

#include "transport/CPacket_PKCS10_Client_Base.h"

class CPacket_PKCS10_Client : public CPacket_PKCS10_Client_Base {};
