#include "update/CUpdateQn.h"

#include <atomic>
#include <cctype>
#include <cstring>

#include "core/AppInfo.h"
#include "core/CBasicPath.h"
#include "core/FileUtils.h"
#include "core/TextConvert.h"
#include "errors/MsgBox.h"
#include "errors/eErrCodes.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "update/CDownloadUpdateRequest.h"
#include "update/CGetVersionProgramRequest.h"
#include "update/RestartSignal.h"

using tesel::CBlob;

namespace {

// Questions of attemptUpdate (UTF-8 here; shown in CP1251).
constexpr const char* kQuestionNewer = "Доступно обновление. Обновить программу?";
constexpr const char* kQuestionOlder =
    "Ваша версия программы старше, чем на сервере(стабильная).\n Обновить программу?";

// The longest version text that fits the zero-terminated 8-byte buffer the
// server's answer was made for.
constexpr unsigned kMaxVersionDigits = 7;
constexpr unsigned kVersionCheckSeconds = 25;
constexpr DWORD kMaxExecutablePath = 512;

// The agent that currently receives tesel::setVersion / setAppType.
std::atomic<CUpdateQn*> g_listeningAgent{nullptr};

// The full path of the running executable, or "" when it cannot be
// obtained whole.
std::string runningExecutable() {
    char path[kMaxExecutablePath] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, kMaxExecutablePath);
    // A truncated path names some other file: treat it as not obtained.
    if (length == 0 || length >= kMaxExecutablePath) return {};
    return std::string(path, length);
}

// Decimal digits at the start of text (after blanks and an optional "+");
// 0 when there are none. A sign "-" gives 0, never a huge version.
unsigned parseVersion(const char* text) {
    while (*text != '\0' && std::isspace(static_cast<unsigned char>(*text))) ++text;
    if (*text == '+') ++text;
    unsigned value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) value = value * 10 + static_cast<unsigned>(*text - '0');
    return value;
}

}  // namespace

CUpdateQn::CUpdateQn() {
    setFollowRedirects(false);
    tesel::CBasicPath& paths = tesel::CBasicPath::instance();
    m_backupFolder = paths.getRootPath() + platform::kPathSeparator + "backup" + platform::kPathSeparator;
    m_programFolder = paths.getCurrentDir();
    m_executable = runningExecutable();
    tesel::createFolder(m_backupFolder);
}

CUpdateQn::~CUpdateQn() {
    CUpdateQn* self = this;
    if (g_listeningAgent.compare_exchange_strong(self, nullptr)) tesel::setAppInfoListener({}, {});
}

void CUpdateQn::setVersion(unsigned version) { m_version.store(version); }

void CUpdateQn::setType(tesel::eQuorinType type) { m_type.store(type); }

unsigned CUpdateQn::getVersion() const { return m_version.load(); }

tesel::eQuorinType CUpdateQn::getType() const { return m_type.load(); }

void CUpdateQn::listenToAppInfo() {
    g_listeningAgent.store(this);
    tesel::setAppInfoListener([this](unsigned version) { setVersion(version); },
                              [this](tesel::eQuorinType type) { setType(type); });
}

void CUpdateQn::setBackupFolder(std::string folder) { m_backupFolder = std::move(folder); }

void CUpdateQn::setProgramFolder(std::string folder) { m_programFolder = std::move(folder); }

int CUpdateQn::getLatestVersion(unsigned& latest) {
    CGetVersionProgramRequest request(getType());
    // The start-up check runs before the service listens: a server that
    // answers slowly must not keep the pages waiting longer than this.
    request.setTotalTimeout(kVersionCheckSeconds);
    int result = send(request);
    if (result != ERR_OK) return result;
    CBlob answer = request.getResponse();
    result = CTransportServerRequest::readHeader(answer);
    if (result != ERR_OK) return result;
    const unsigned length = answer.remaining();
    if (length > kMaxVersionDigits) return ERR_UNKNOWN_HEADER;
    char digits[kMaxVersionDigits + 1] = {};
    if (length > 0) std::memcpy(digits, answer.getData() + answer.getOffset(), length);
    latest = parseVersion(digits);
    return ERR_OK;
}

int CUpdateQn::downloadUpdate(std::string fileName, unsigned version, CBlob& content) {
    CDownloadUpdateRequest request(getType(), std::move(fileName), version);
    int result = send(request);
    if (result != ERR_OK) return result;
    CBlob answer = request.getResponse();
    result = CTransportServerRequest::checkErrorInHeader(answer);
    if (result != ERR_OK) return result;
    content = std::move(answer);
    return ERR_OK;
}

int CUpdateQn::checkUpdates(unsigned& latest) {
    const int result = getLatestVersion(latest);
    if (result != ERR_OK) return result;
    const unsigned own = getVersion();
    if (latest == own) return ERR_OK;
    return latest > own ? ERR_PROGRAM_OUTDATED : ERR_PROGRAM_NEWER_THAN_SERVER;
}

void CUpdateQn::attemptUpdate(bool& handled, HWND mainWindow) {
    handled = false;
    // An installation the previous run did not finish is finished first, so
    // the program folder is whole whatever the server answers now.
    recoverInterruptedUpdate();
    const tesel::eQuorinType type = getType();
    unsigned latest = 0;
    const int check = checkUpdates(latest);
    if (m_notifyOnly && (check == ERR_PROGRAM_OUTDATED || check == ERR_PROGRAM_NEWER_THAN_SERVER)) {
        // The package manager installs versions: an older one on the server
        // is none of the user's business, a newer one is told.
        if (check == ERR_PROGRAM_OUTDATED) {
            MessageBoxA(mainWindow, getErrorText(check).c_str(), getCaption(type).c_str(),
                        MB_ICONINFORMATION | MB_OK);
        }
        handled = true;
        return;
    }
    const char* question = nullptr;
    if (check == ERR_PROGRAM_OUTDATED) {
        question = kQuestionNewer;
    } else if (check == ERR_PROGRAM_NEWER_THAN_SERVER) {
        question = kQuestionOlder;
    } else {
        if (check != ERR_OK) msgError(mainWindow, check, type);
        handled = true;
        return;
    }
    if (msgQuestion(nullptr, tesel::convertFromUTF8(question), type) != IDYES) return;

    const int installed = updateProgram(latest);
    if (installed != ERR_OK) {
        msgError(mainWindow, installed, type);
    } else {
        msgInfo(mainWindow, MSG_UPDATE_DOWNLOADED, type);
        restart(mainWindow);
    }
    handled = true;
}

void CUpdateQn::restart(HWND mainWindow) {
    const std::string executable = m_executable.empty() ? runningExecutable() : m_executable;
    if (executable.empty()) return;
    // The old instance closes only when the new one is running, so a failed
    // start never leaves the user without the program.
    if (!qn::update::launchProcess(executable)) return;
    platform::closeWindow(mainWindow);
    qn::update::requestRestart();
}
