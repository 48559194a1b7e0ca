#include "app/SettingsForm.h"

#include "app/Settings.h"
#include "app/httpServerAddress.h"
#include "errors/eErrCodes.h"

int applySettingsForm(const std::string& addressText) {
    httpSrv::httpServerAddress address = getTransportServerAddress();
    const int parsed = httpSrv::parseAddress(addressText, address);
    if (parsed == ERR_OK) setTransportServerAddress(address);
    saveSettings();
    return parsed;
}
