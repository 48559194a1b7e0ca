// Installing a downloaded package and building one: the file side of the
// update agent.
#include <algorithm>
#include <vector>

#include "core/FileUtils.h"
#include "errors/eErrCodes.h"
#include "platform/dirlist.h"
#include "platform/paths.h"
#include "platform/win32.h"
#include "update/CUpdateQn.h"
#include "update/UpdatePackage.h"

using tesel::CBlob;

namespace {

// Suffix of the file that receives the new content next to the live one.
constexpr const char* kTempSuffix = ".update-new";

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    const char last = folder.back();
    if (last == '/' || last == '\\') return folder + name;
    return folder + platform::kPathSeparator + name;
}

}  // namespace

int CUpdateQn::updateProgram(unsigned version) {
    CBlob info;
    int result = downloadUpdate(qn::update::kInfoFileName, version, info);
    if (result != ERR_OK) return result;

    // Every name is read and checked before the first file is touched.
    std::vector<std::string> names;
    result = qn::update::readPackageInfo(info, names);
    if (result != ERR_OK) return result;
    tesel::createFolder(m_backupFolder);  // it may have been removed since start-up

    for (unsigned k = 1; k <= names.size(); ++k) {
        CBlob part;
        result = downloadUpdate(qn::update::partFileName(k), version, part);
        if (result != ERR_OK) return result;
        // A part without room for its trailer is not one the builder made.
        if (part.getSize() < qn::update::kPartTrailerSize) return ERR_UNKNOWN_HEADER;
        const CBlob content(part, 0, qn::update::kPartTrailerSize);
        result = replaceFile(names[k - 1], content);
        if (result != ERR_OK) return result;
    }
    return ERR_OK;
}

// The live file is never lost: the new content is written to a temporary
// file beside it first; only then is the live file moved to the backup and
// the new one renamed into its place. If that rename fails, the backup is
// moved back.
int CUpdateQn::replaceFile(const std::string& name, const CBlob& content) {
    const std::string live = joinPath(m_programFolder, name);
    const std::string temp = live + kTempSuffix;
    const std::string backup = m_backupFolder + name;
    const bool liveExists = tesel::isFileExist(live);

    DeleteFileA(temp.c_str());  // a leftover of an interrupted update
    // Copying the live file first gives the new one its permissions (an
    // executable stays executable); the content is then replaced.
    if (liveExists && !CopyFileA(live.c_str(), temp.c_str(), FALSE)) return ERR_UPDATE_FAILED;
    if (tesel::saveBlob(&content, temp) != 1) {
        DeleteFileA(temp.c_str());
        return ERR_UPDATE_FAILED;
    }
    if (liveExists) {
        // The backup folder keeps the most recently replaced version.
        if (tesel::isFileExist(backup)) DeleteFileA(backup.c_str());
        if (!MoveFileA(live.c_str(), backup.c_str())) {
            DeleteFileA(temp.c_str());
            return ERR_UPDATE_FAILED;
        }
    }
    if (!MoveFileA(temp.c_str(), live.c_str())) {
        if (liveExists) MoveFileA(backup.c_str(), live.c_str());
        DeleteFileA(temp.c_str());
        return ERR_UPDATE_FAILED;
    }
    return ERR_OK;
}

int CUpdateQn::createUpdatePackage(std::string sourceFolder, std::string targetFolder) {
    tesel::createFolder(targetFolder);

    // The whole listing is taken before anything is written, so a target
    // inside the source never lists its own output. Names are sorted so
    // that the same folder always gives the same package.
    std::vector<std::string> names;
    if (!platform::listFileNames(sourceFolder, names)) return ERR_INTERNAL;
    std::sort(names.begin(), names.end());

    for (unsigned k = 1; k <= names.size(); ++k) {
        CBlob content;
        if (tesel::loadBlob(joinPath(sourceFolder, names[k - 1]), &content) != ERR_OK)
            return ERR_INTERNAL;
        CBlob part(content.getSize() + qn::update::kPartTrailerSize);
        part.serialize(content.getData(), content.getSize());
        const unsigned char zeros[qn::update::kPartTrailerSize] = {};
        part.serialize(zeros, qn::update::kPartTrailerSize);
        if (part.isMalformed() || content.getSize() > part.getSize())
            return ERR_INTERNAL;
        if (tesel::saveBlob(&part, joinPath(targetFolder, qn::update::partFileName(k))) != 1)
            return ERR_INTERNAL;
    }
    const CBlob info = qn::update::writePackageInfo(names);
    if (tesel::saveBlob(&info, joinPath(targetFolder, qn::update::kInfoFileName)) != 1)
        return ERR_INTERNAL;
    return ERR_OK;
}
