// The application object: the handles of the program's instance and main
// window, and the local WebSocket service. Its start runs the start sequence:
// version and variant, settings, update check, then the service.
#pragma once

#include "platform/win32.h"
#include "server/CWebSocketServer.h"

class VUzeVorido {
public:
    VUzeVorido();
    VUzeVorido(const VUzeVorido&) = delete;
    VUzeVorido& operator=(const VUzeVorido&) = delete;

    void setInstance(HINSTANCE instance) { m_instance = instance; }
    void setMainWnd(HWND window) { m_mainWnd = window; }
    HINSTANCE getInstance() const { return m_instance; }
    HWND getMainWnd() const { return m_mainWnd; }
    // The service, for start-up code that installs its handlers before start().
    CWebSocketServer& getServer() { return m_server; }

    // Runs init() and returns its result.
    int start();
    // Nothing to stop: the service ends with the process. Returns 0.
    int stop();

private:
    // 1 when the instance or main window is missing; the settings' error (80
    // for a damaged file); otherwise the service's start result (0).
    int init();

    HINSTANCE m_instance = nullptr;
    HWND m_mainWnd = nullptr;
    CWebSocketServer m_server;
};

// The one application object, made during static initialisation.
VUzeVorido& getApplication();

// Program constants: version 1.01.276 of the plugin variant.
inline constexpr unsigned kProgramVersion = 101276;
