// The interface between the program and its desktop module
// (pellamo-desktop.so), which holds everything that needs GTK and the
// status notifier library. The program loads the module at run time, only
// in a graphical session, so that it neither links nor needs those
// libraries anywhere else. Plain C types: the module is found by one
// exported function, pellamo_desktop_api.
//
// All texts are UTF-8. Every call may be made from any thread: the module
// runs its own GUI thread and carries each call over to it (a call made on
// that thread, from a menu item's callback, runs at once).
#pragma once

extern "C" {

// Called on the GUI thread when the tray menu's item `index` is chosen.
typedef void (*PellamoTrayCallback)(void* context, int index);

struct PellamoSettingsDialog {
    const char* caption;        // window title
    const char* iconFile;       // image beside the text (may be null)
    const char* text;           // the text beside the image (may hold a line feed)
    const char* versionLabel;
    const char* version;
    const char* addressLabel;
    const char* address;        // the edit field's first text
    const char* okLabel;
    const char* cancelLabel;
};

struct PellamoTray {
    const char* id;           // the item's id on the bus
    const char* title;        // its title (tooltip)
    const char* iconFolder;   // where iconName.png lies (may be null: the icon theme)
    const char* iconName;
    const char* const* labels;  // the menu's items, in the toolkit's mnemonic form
    int count;
    PellamoTrayCallback activated;
    void* context;
};

struct PellamoDesktopApi {
    // Starts the GUI thread and opens the display; 0 on success. Fails when
    // the display cannot be opened. iconFile (may be null) becomes the
    // windows' icon.
    int (*open)(const char* iconFile);
    // A modal message box; `type` takes the MB_ flags of MessageBox (button
    // set and icon). Returns the button chosen as IDOK, IDCANCEL, IDYES or
    // IDNO; a box closed without a button gives IDNO for a Yes/No question,
    // IDCANCEL where there is a cancel button, else IDOK. 0 when the box
    // could not be shown (the module is closing).
    int (*messageBox)(const char* text, const char* caption, unsigned type);
    // Puts the icon with its menu on the bus; 0 on success.
    int (*showTray)(const PellamoTray* tray);
    // Runs the settings dialog modally. 1: OK, with the edit field's text in
    // *address (released with freeText); 0: cancelled or closed; -1: not shown.
    int (*settingsDialog)(const PellamoSettingsDialog* dialog, char** address);
    void (*freeText)(char* text);
    // Closes open dialogs (as if cancelled), removes the icon and ends the
    // GUI thread; waits for it a bounded time. Calls waiting for the GUI
    // thread return as if not shown.
    void (*close)(void);
};

// The module's one entry; null when the module was built for another
// interface version.
typedef const PellamoDesktopApi* (*PellamoDesktopEntry)(int interfaceVersion);
const PellamoDesktopApi* pellamo_desktop_api(int interfaceVersion);

}  // extern "C"

inline constexpr int kPellamoDesktopInterfaceVersion = 1;
