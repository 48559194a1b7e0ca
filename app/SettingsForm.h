// What confirming the settings form does, on every platform (the Windows
// dialog's OK button, the terminal form's Enter).
#pragma once

#include <string>

// Parses the address text; when it parses, puts it in force for every HTTP
// client. The settings file is then written in every case, with the address
// now in force. Returns the parse result: 0, or 65 for a text without ":"
// (the old address stays).
int applySettingsForm(const std::string& addressText);
