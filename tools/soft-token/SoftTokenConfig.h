// The slots of the software token and the device behaviour each one plays:
// token fields, PINs, the form of wrapped keys, a slot without a token.
//
// Read from $PELLAMO_SOFTTOKEN_CONFIG, else <token folder>/softtoken.conf.
// One [slot] section per slot, in slot order; "key = value" lines, '#'
// starts a comment:
//   label, manufacturer, model, serial   token information fields
//   pin, so-pin                          the user and security officer PINs
//   wrapped-key = 44 | 36                C_WrapKey output with or without the leading UKM
//   token = present | absent             absent: the slot is empty
//   module = <text>                      the slot is seen only through a module file
//                                        whose name contains the text
//   folder = <name>                      the folder of the token's objects (default slot<N>)
//   version = <hw major>.<hw minor>.<fw major>.<fw minor>
// Without a file there is one slot: "Pellamo Soft Token", PIN 58203716.
#pragma once

#include <string>
#include <vector>

namespace softtoken {

struct SlotConfig {
    std::string label = "Pellamo Soft Token";
    std::string manufacturer = "Pellamo";
    std::string model = "Soft Token";
    std::string serial = "0000000000000001";
    std::string userPin = "58203716";
    std::string soPin = "87654321";
    unsigned wrappedKeyLength = 36;
    bool present = true;
    std::string module;
    std::string folder;
    unsigned char version[4] = {1, 0, 1, 0};
};

// The token folder: $PELLAMO_SOFTTOKEN_DIR, else %APPDATA%\pellamo\softtoken
// (Windows), else $XDG_DATA_HOME/pellamo/softtoken, else
// ~/.local/share/pellamo/softtoken.
std::string tokenDirectory();

// The configured slots; false (and a message on stderr) for a file that
// cannot be parsed.
bool loadSlotConfig(std::vector<SlotConfig>& slots);
bool parseSlotConfig(const std::string& text, std::vector<SlotConfig>& slots, std::string& error);

// Whether a slot is seen through the module file of that name.
bool slotVisible(const SlotConfig& slot, const std::string& moduleFile);

}  // namespace softtoken
