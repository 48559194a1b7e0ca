// Entry of the Linux program. In a graphical session the tray icon, the
// settings dialog and the message boxes are windows of the desktop.
// Elsewhere the terminal takes the tray icon's place: when standard input is
// one, the tray menu is offered there; without one the program just serves.
// Ctrl+C, a termination request, the menu's "&Выход" and a restart after an
// update end it with status 0.
#include <iostream>
#include <thread>

#include "app/DesktopTray.h"
#include "app/InstanceGuard.h"
#include "app/MainLoop.h"
#include "app/ProgramLog.h"
#include "app/TerminalMenu.h"
#include "app/VUzeVorido.h"
#include "core/eQuorinType.h"
#include "errors/MsgBox.h"
#include "errors/eErrCodes.h"
#include "platform/desktop.h"
#include "platform/memory.h"
#include "platform/terminal.h"
#include "platform/termination.h"
#include "update/RestartSignal.h"

int main() {
    // Before any thread exists, so that every thread inherits the setup.
    platform::prepareTerminationWait();
    platform::tuneAllocatorForLargeMessages();
    app::startLog();
    if (!app::takeInstanceLock()) {
        app::stopLog();
        return ERR_OK;
    }

    std::thread([] {
        platform::waitForTerminationRequest();
        app::requestMainLoopEnd(ERR_OK);
        // Open dialogs close as if cancelled: the start goes on to its end.
        platform::desktop::close();
    }).detach();
    // The update agent has started the new instance: this one ends.
    qn::update::setRestartHandler([] { app::requestMainLoopEnd(ERR_OK); });

    // Before the start: its message boxes (the update offer) are windows.
    const bool desktop = platform::desktop::open();

    VUzeVorido& application = getApplication();
    application.setInstance(platform::terminalInstance());
    application.setMainWnd(platform::terminalWindow());
    const int started = application.start();
    if (started != ERR_OK) {
        msgError(nullptr, started, tesel::QN_PLUGIN);
        app::stopLog();
        return started;
    }

    if (desktop && !app::isMainLoopEnding() && desktop_tray::show()) {
        // The tray's menu takes the terminal menu's place.
    } else if (platform::isStdinTerminal() && !app::isMainLoopEnding()) {
        std::thread([] {
            const terminal::LineReader read = [](std::string& line) { return platform::readStdinLine(line); };
            // At the end of input the terminal is gone: the program goes on
            // serving until it is asked to end.
            if (terminal::runTrayMenu(read, std::cout)) app::requestMainLoopEnd(ERR_OK);
        }).detach();
    }
    const int exitCode = app::runMainLoop();
    platform::desktop::close();  // the icon leaves the tray before the program ends
    return exitCode;
}
