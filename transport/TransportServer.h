// The program's one HTTP connection to the CA transport server. It is made
// empty during static initialisation; the settings give it host and port
// (and give the same to the update agent) whenever the address is set.
#pragma once

#include "transport/common/CHttpConnection.h"

CHttpConnection& getTransportServer();
