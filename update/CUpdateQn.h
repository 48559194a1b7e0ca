// The update agent. It is itself the HTTP connection to the transport
// server (host and port come from the settings), knows the running
// program's version and product variant, and at start-up offers, downloads
// and installs the latest published version, keeping the replaced files in a
// backup folder, then restarts the program.
//
// Every dialog carries the caption of the agent's product variant.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "core/CBlob.h"
#include "core/eQuorinType.h"
#include "core/export.h"
#include "platform/win32.h"
#include "transport/common/CHttpConnection.h"
#include "update/UpdateSignature.h"

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

    // Where a package manager updates the program, attemptUpdate only tells
    // the user that the server has a newer version (error 76's text, as a
    // notice); nothing is downloaded and nothing else is shown. The build's
    // setting (PELLAMO_DISTRIBUTION_PACKAGE) until changed.
    void setNotifyOnly(bool notifyOnly) { m_notifyOnly = notifyOnly; }
    bool isNotifyOnly() const { return m_notifyOnly; }

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

    // Downloads and installs the package of the given version, signed for
    // this agent's variant (getType). The list and
    // every part are downloaded and their signatures verified before any
    // file is touched: a download failure returns its code, a damaged list or
    // a part too short for its trailer 6, and a name that is not a bare file
    // name, two names for one file, or a missing or wrong signature 78. The
    // files are then replaced together: each new content is written beside
    // its live file, a journal names the files, and the live files are moved
    // to the backup folder and the new ones renamed into place. A failure
    // there puts every file back as it was (78). An update interrupted part
    // way is finished by recoverInterruptedUpdate.
    int updateProgram(unsigned version);

    // Finishes an installation that was interrupted (the journal is still
    // there): every file whose new content is waiting beside it is put in
    // place, and a live file that is missing is taken back from the backup.
    // Returns 0 (also when there was nothing to do) or 78 when a file could
    // not be put in place; the journal then stays for the next attempt.
    // attemptUpdate and updateProgram call it first.
    int recoverInterruptedUpdate();

    // The key that package signatures must verify with; the vendor key built
    // into the library by default.
    void setVerificationKey(qn::update::Bytes publicKey);
    // Whether a package without signatures (zero trailers, no list
    // signature) is installed; the build's deployment switch by default. A
    // signature that is present must verify in any case.
    void setAcceptUnsigned(bool accept);
    bool isAcceptingUnsigned() const { return m_acceptUnsigned; }
    // Whether updates verified with the repository's test key are installed;
    // only in a development build by default. Otherwise updateProgram
    // refuses (78) without asking the server while that key is the
    // verification key, and says so once on the standard error stream.
    void setTestKeyAllowed(bool allowed);
    // The key the package builder signs with; without one it builds an
    // unsigned package. Packages are signed for the variant set with setType.
    void setSigningKey(qn::update::Bytes privateKey);

    // For tests of interrupted installations: called at every step of the
    // file phase (step name, file index); returning false abandons the
    // installation right there, as if the process had ended.
    using InstallCheckpoint = std::function<bool(const std::string& step, unsigned index)>;
    void setInstallCheckpoint(InstallCheckpoint checkpoint);

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
    // targetFolder, which is created if needed, signed for the version set
    // with setVersion and the variant set with setType when a signing key is
    // set. Returns 0, or 1 when the source cannot be listed, a file cannot be
    // read or written, signing fails, or a signed package has no variant.
    int createUpdatePackage(std::string sourceFolder, std::string targetFolder);
    // The same for a package of the given version.
    int createUpdatePackage(std::string sourceFolder, std::string targetFolder, unsigned version);

private:
    // Whether a piece with this signature (null or all zeros: none) passes.
    bool refusesTestKey() const;
    bool signatureAccepted(const unsigned char digest[qn::update::kDigestSize],
                           const unsigned char* signature) const;
    // The file phase of updateProgram. Returns 0 or 78.
    int installFiles(const std::vector<std::string>& names, const std::vector<tesel::CBlob>& contents);
    // Puts the already replaced files (indices below done, and index current
    // when its live file was moved away) back; false when a step failed.
    bool rollBack(const std::vector<std::string>& names, const std::vector<bool>& hadLive, unsigned done,
                  bool currentMoved);
    bool reached(const char* step, unsigned index) const;
    std::string livePath(const std::string& name) const;
    std::string backupPath(const std::string& name) const;
    std::string journalPath() const;

    std::string m_backupFolder;
    std::string m_programFolder;
    std::string m_executable;  // empty when it could not be named
    qn::update::Bytes m_verificationKey = qn::update::vendorPublicKey();
    qn::update::Bytes m_signingKey;
    bool m_acceptUnsigned = qn::update::buildAcceptsUnsignedPackages();
    bool m_testKeyAllowed = qn::update::isDevelopmentBuild();
    bool m_notifyOnly = qn::update::buildLeavesUpdatesToPackageManager();
    InstallCheckpoint m_checkpoint;
    // Set through the app-info listener from whichever thread sets them.
    std::atomic<tesel::eQuorinType> m_type{tesel::QN_UNSPECIFIED};
    std::atomic<unsigned> m_version{0};
};
