// The update agent. It is itself the HTTP connection to the transport
// server (host and port come from the settings), knows the running
// program's version and product variant, and at start-up offers, downloads
// and installs the latest published version, keeping the replaced files in a
// backup folder, then restarts the program.
//
// Every dialog carries the caption of the agent's product variant.
#pragma once

#include <atomic>
#include <string>

#include "core/CBlob.h"
#include "core/eQuorinType.h"
#include "core/export.h"
#include "platform/win32.h"
#include "transport/common/CHttpConnection.h"

class UPD_QN_API CUpdateQn : public CHttpConnection {
public:
    // Program folder: the current directory of the path service. Backup
    // folder: <root path>/backup/ (created here). Type and version 0.
    CUpdateQn();
    ~CUpdateQn() override;
    CUpdateQn(const CUpdateQn&) = delete;
    CUpdateQn& operator=(const CUpdateQn&) = delete;

    void setVersion(unsigned version);
    void setType(tesel::eQuorinType type);
    unsigned getVersion() const;
    tesel::eQuorinType getType() const;

    // From now on tesel::setVersion / tesel::setAppType reach this agent
    // (values set earlier are passed on at once). Undone by the destructor.
    void listenToAppInfo();

    // The whole interactive update at start-up. handled is true when the
    // version check ended the matter (same version, or a failure that was
    // shown) or an update was attempted; false when the user said No.
    void attemptUpdate(bool& handled, HWND mainWindow);

    // 0 when the server's version equals ours, 76 when it is newer, 77 when
    // it is older; otherwise the failure of getLatestVersion.
    int checkUpdates(unsigned& latest);

    // The latest published version of our variant. Returns 0 or an error
    // code: transport failures, a damaged or error header, and 6 for a
    // version text longer than 7 characters. latest is set only on success.
    int getLatestVersion(unsigned& latest);

    // One file of the package for the given version. Returns 0, a transport
    // failure, 6 for an answer shorter than the transport magic, or the
    // server's mapped error. On success content holds the file (offset 0).
    int downloadUpdate(std::string fileName, unsigned version, tesel::CBlob& content);

    // Downloads and installs the package of the given version. Names are all
    // checked before any file is touched (78 for a name that is not a bare
    // file name, 6 for a damaged list). Files are then replaced in order;
    // the first failure stops, leaving the files before it replaced and the
    // ones after it untouched.
    int updateProgram(unsigned version);

    // Starts a new instance of the running executable; once it runs, closes
    // the main window and raises the restart request (update/RestartSignal.h).
    // The executable is the file the program was started from, as named when
    // the agent was made: on Linux the running image's own name follows the
    // file into the backup folder once the update has moved it there.
    void restart(HWND mainWindow);

    void setBackupFolder(std::string folder);
    std::string getBackupFolder() const { return m_backupFolder; }
    // Where updated files are written.
    void setProgramFolder(std::string folder);
    std::string getProgramFolder() const { return m_programFolder; }

    // Builds a package from the files (not folders) of sourceFolder into
    // targetFolder, which is created if needed. Returns 0, or 1 when the
    // source cannot be listed or a file cannot be read or written.
    int createUpdatePackage(std::string sourceFolder, std::string targetFolder);

private:
    // Replaces one file of the program folder; see updateProgram. Returns 0
    // or 78.
    int replaceFile(const std::string& name, const tesel::CBlob& content);

    std::string m_backupFolder;
    std::string m_programFolder;
    std::string m_executable;  // empty when it could not be named
    // Set through the app-info listener from whichever thread sets them.
    std::atomic<tesel::eQuorinType> m_type{tesel::QN_UNSPECIFIED};
    std::atomic<unsigned> m_version{0};
};
