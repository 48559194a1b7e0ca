#include "transport/CPacket_PKCS10_Client.h"
