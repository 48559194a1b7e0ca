#include "tools/soft-token/SoftTokenConfig.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace softtoken {

namespace {

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) {
        return {};
    }
    const auto e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

bool parseVersion(const std::string& v, unsigned char out[4]) {
    unsigned parts[4];
    char tail;
    if (std::sscanf(v.c_str(), "%u.%u.%u.%u%c", &parts[0], &parts[1], &parts[2], &parts[3], &tail) != 4) {
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        if (parts[i] > 255) {
            return false;
        }
        out[i] = static_cast<unsigned char>(parts[i]);
    }
    return true;
}

}  // namespace

std::string tokenDirectory() {
    std::string dir = env("PELLAMO_SOFTTOKEN_DIR");
    if (!dir.empty()) {
        return dir;
    }
    // APPDATA first: it is set on Windows only, while wine hands a Linux
    // session's XDG_DATA_HOME to Windows programs as it is (a Linux path).
    if (!(dir = env("APPDATA")).empty()) {
        return dir + "\\pellamo\\softtoken";
    }
    if (!(dir = env("XDG_DATA_HOME")).empty()) {
        return dir + "/pellamo/softtoken";
    }
    if (!(dir = env("HOME")).empty()) {
        return dir + "/.local/share/pellamo/softtoken";
    }
    return "softtoken";
}

bool parseSlotConfig(const std::string& text, std::vector<SlotConfig>& slots, std::string& error) {
    slots.clear();
    std::istringstream in(text);
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line)) {
        ++lineNo;
        const auto hash = line.find('#');
        line = trim(hash == std::string::npos ? line : line.substr(0, hash));
        if (line.empty()) {
            continue;
        }
        if (lower(line) == "[slot]") {
            slots.emplace_back();
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos || slots.empty()) {
            error = "line " + std::to_string(lineNo) + ": expected [slot] or key = value";
            return false;
        }
        const std::string key = lower(trim(line.substr(0, eq)));
        const std::string value = trim(line.substr(eq + 1));
        SlotConfig& s = slots.back();
        if (key == "label") {
            s.label = value;
        } else if (key == "manufacturer") {
            s.manufacturer = value;
        } else if (key == "model") {
            s.model = value;
        } else if (key == "serial") {
            s.serial = value;
        } else if (key == "pin") {
            s.userPin = value;
        } else if (key == "so-pin") {
            s.soPin = value;
        } else if (key == "wrapped-key" && (value == "44" || value == "36")) {
            s.wrappedKeyLength = static_cast<unsigned>(std::stoul(value));
        } else if (key == "token" && (lower(value) == "present" || lower(value) == "absent")) {
            s.present = lower(value) == "present";
        } else if (key == "module") {
            s.module = value;
        } else if (key == "folder" && !value.empty() && value.find_first_of("/\\") == std::string::npos &&
                   value != "." && value != "..") {
            s.folder = value;
        } else if (key == "version" && parseVersion(value, s.version)) {
        } else {
            error = "line " + std::to_string(lineNo) + ": bad setting '" + key + "'";
            return false;
        }
    }
    return true;
}

bool loadSlotConfig(std::vector<SlotConfig>& slots) {
    std::string path = env("PELLAMO_SOFTTOKEN_CONFIG");
    if (path.empty()) {
        path = tokenDirectory() + "/softtoken.conf";
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        slots.assign(1, SlotConfig{});
        return true;
    }
    std::ostringstream text;
    text << file.rdbuf();
    std::string error;
    if (!parseSlotConfig(text.str(), slots, error)) {
        std::fprintf(stderr, "pellamo soft token: %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    return true;
}

bool slotVisible(const SlotConfig& slot, const std::string& moduleFile) {
    if (slot.module.empty()) {
        return true;
    }
    std::string name = moduleFile;
    const auto sep = name.find_last_of("/\\");
    if (sep != std::string::npos) {
        name = name.substr(sep + 1);
    }
    return lower(name).find(lower(slot.module)) != std::string::npos;
}

}  // namespace softtoken
