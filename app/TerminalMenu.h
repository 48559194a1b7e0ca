// The tray menu and the settings form of a program whose "tray" is the
// terminal (no window system): the same two menu items and the same form
// fields as the Windows tray icon and settings dialog, as lines of text.
// Texts are UTF-8 on the terminal; the settings keep the ANSI code page.
#pragma once

#include <functional>
#include <ostream>
#include <string>

namespace terminal {

// Reads one line of input without its line end; false at the end of input.
using LineReader = std::function<bool(std::string& line)>;

enum class MenuChoice { Settings, Exit, Unknown };

// "1" or the item's text chooses "Настройки"; "2", the item's text with or
// without its "&", or its mnemonic letter chooses "&Выход". Blanks around
// the answer are ignored.
MenuChoice parseMenuChoice(const std::string& answer);

// Shows the form (caption, the cabinet's web address, the version and the
// transport server's host:port), then reads the new address. An empty answer
// keeps the text shown, as an untouched edit field does. Any answer is then
// confirmed as the dialog's OK button confirms it (applySettingsForm).
// Returns false, changing nothing, when the input ends first.
bool runSettingsForm(const LineReader& read, std::ostream& out);

// Offers the menu until "&Выход" is chosen (returns true) or the input ends
// (returns false). "Настройки" runs the settings form and then offers the
// menu again.
bool runTrayMenu(const LineReader& read, std::ostream& out);

}  // namespace terminal
