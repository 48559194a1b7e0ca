// The program's one update agent (the update library's CUpdateQn). It learns
// the program's version and variant from tesel::setVersion/setAppType and the
// transport server's address from the settings.
#pragma once

#include "update/CUpdateQn.h"

// Made on first use, which the start-up objects arrange to happen during
// static initialisation; lives until the process ends.
CUpdateQn& getUpdateModule();
