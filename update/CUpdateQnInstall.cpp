// Installing a downloaded package and building one: the file side of the
// update agent.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/FileUtils.h"
#include "errors/eErrCodes.h"
#include "platform/dirlist.h"
#include "platform/paths.h"
#include "platform/win32.h"
#include "update/CUpdateQn.h"
#include "update/UpdatePackage.h"
#include "update/UpdateSignature.h"

using tesel::CBlob;
using namespace qn::update;

namespace {

// The journal of an installation in progress, in the backup folder: the
// format number and the names being replaced. Package names can never be
// this name (it is not a bare name's form: it starts with a dot and ends in
// the staged suffix).
constexpr const char* kJournalName = ".journal.update-new";
constexpr unsigned kJournalFormat = 1;

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    const char last = folder.back();
    if (last == '/' || last == '\\') return folder + name;
    return folder + platform::kPathSeparator + name;
}

bool allZero(const unsigned char* p, unsigned n) {
    return std::all_of(p, p + n, [](unsigned char c) { return c == 0; });
}

bool writeJournal(const std::string& path, const std::vector<std::string>& names) {
    CBlob journal(writePackageInfo(names));
    CBlob blob(CBlob::sizeOfInt() + journal.getSize());
    blob << kJournalFormat;
    blob.serialize(journal.getData(), journal.getSize());
    const std::string fresh = path + ".tmp";
    DeleteFileA(fresh.c_str());
    // Written whole under another name first, so a journal is never half there.
    if (tesel::saveBlob(&blob, fresh) != 1) return false;
    DeleteFileA(path.c_str());
    if (!MoveFileA(fresh.c_str(), path.c_str())) {
        DeleteFileA(fresh.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::string CUpdateQn::livePath(const std::string& name) const { return joinPath(m_programFolder, name); }

std::string CUpdateQn::backupPath(const std::string& name) const { return m_backupFolder + name; }

std::string CUpdateQn::journalPath() const { return m_backupFolder + kJournalName; }

void CUpdateQn::setVerificationKey(Bytes publicKey) { m_verificationKey = std::move(publicKey); }

void CUpdateQn::setAcceptUnsigned(bool accept) { m_acceptUnsigned = accept; }

void CUpdateQn::setTestKeyAllowed(bool allowed) { m_testKeyAllowed = allowed; }

bool CUpdateQn::refusesTestKey() const {
    if (m_testKeyAllowed || m_verificationKey != repositoryTestKey()) return false;
    static std::atomic<bool> said{false};
    if (!said.exchange(true))
        std::fprintf(stderr, "update refused: this build verifies updates with the repository's test key, whose "
                             "private key is public; only a development build may use it\n");
    return true;
}

void CUpdateQn::setSigningKey(Bytes privateKey) { m_signingKey = std::move(privateKey); }

void CUpdateQn::setInstallCheckpoint(InstallCheckpoint checkpoint) { m_checkpoint = std::move(checkpoint); }

bool CUpdateQn::reached(const char* step, unsigned index) const {
    return !m_checkpoint || m_checkpoint(step, index);
}

bool CUpdateQn::signatureAccepted(const unsigned char digest[kDigestSize], const unsigned char* signature) const {
    if (signature == nullptr || allZero(signature, kSignatureSize)) return m_acceptUnsigned;
    return verifyDigest(m_verificationKey, digest, signature);
}

int CUpdateQn::updateProgram(unsigned version) {
    recoverInterruptedUpdate();
    // The test key's private half is public, so anyone could publish to a
    // program that trusts it: nothing is even downloaded.
    if (refusesTestKey()) return ERR_UPDATE_FAILED;
    const tesel::eQuorinType type = getType();

    CBlob info;
    int result = downloadUpdate(kInfoFileName, version, info);
    if (result != ERR_OK) return result;
    std::vector<std::string> names;
    result = readSignedPackageInfo(info, type, version, m_verificationKey, m_acceptUnsigned, names);
    if (result != ERR_OK) return result;

    // Everything is downloaded and verified before the first file is touched.
    std::vector<CBlob> contents;
    contents.reserve(names.size());
    unsigned char digest[kDigestSize];
    for (unsigned k = 1; k <= names.size(); ++k) {
        CBlob part;
        result = downloadUpdate(partFileName(k), version, part);
        if (result != ERR_OK) return result;
        // A part without room for its trailer is not one the builder made.
        if (part.getSize() < kPartTrailerSize) return ERR_UNKNOWN_HEADER;
        const unsigned size = part.getSize() - kPartTrailerSize;
        partDigest(type, version, k, names[k - 1], part.getData(), size, digest);
        if (!signatureAccepted(digest, part.getData() + size)) return ERR_UPDATE_FAILED;
        contents.emplace_back(part, 0, kPartTrailerSize);
    }
    return installFiles(names, contents);
}

int CUpdateQn::installFiles(const std::vector<std::string>& names, const std::vector<CBlob>& contents) {
    tesel::createFolder(m_backupFolder);  // it may have been removed since start-up
    const unsigned count = static_cast<unsigned>(names.size());
    std::vector<bool> hadLive(count, false);
    auto removeStaged = [&](unsigned upTo) {
        for (unsigned i = 0; i < upTo; ++i) DeleteFileA((livePath(names[i]) + kStagedSuffix).c_str());
    };

    // 1. Every new content beside its live file. Copying the live file first
    // gives the new one its permissions (an executable stays executable).
    for (unsigned i = 0; i < count; ++i) {
        const std::string live = livePath(names[i]);
        const std::string staged = live + kStagedSuffix;
        hadLive[i] = tesel::isFileExist(live);
        DeleteFileA(staged.c_str());  // a leftover of an interrupted update
        if ((hadLive[i] && !CopyFileA(live.c_str(), staged.c_str(), FALSE)) ||
            tesel::saveBlob(&contents[i], staged) != 1) {
            removeStaged(i + 1);
            return ERR_UPDATE_FAILED;
        }
        if (!reached("staged", i)) return ERR_UPDATE_FAILED;
    }
    if (count == 0) return ERR_OK;

    // 2. From here on an interruption is finished at the next start.
    if (!writeJournal(journalPath(), names)) {
        removeStaged(count);
        return ERR_UPDATE_FAILED;
    }
    if (!reached("journal", 0)) return ERR_UPDATE_FAILED;

    // 3. Live file to the backup (which keeps the latest replaced version),
    // new file into place.
    for (unsigned i = 0; i < count; ++i) {
        const std::string live = livePath(names[i]);
        const std::string staged = live + kStagedSuffix;
        const std::string backup = backupPath(names[i]);
        if (hadLive[i]) {
            if (tesel::isFileExist(backup)) DeleteFileA(backup.c_str());
            if (!reached("backup-removed", i)) return ERR_UPDATE_FAILED;
            if (!MoveFileA(live.c_str(), backup.c_str())) {
                if (rollBack(names, hadLive, i, false)) {
                    removeStaged(count);
                    DeleteFileA(journalPath().c_str());
                }
                return ERR_UPDATE_FAILED;
            }
            if (!reached("moved-away", i)) return ERR_UPDATE_FAILED;
        }
        if (!MoveFileA(staged.c_str(), live.c_str())) {
            if (rollBack(names, hadLive, i, hadLive[i])) {
                removeStaged(count);
                DeleteFileA(journalPath().c_str());
            }
            return ERR_UPDATE_FAILED;
        }
        if (!reached("renamed", i)) return ERR_UPDATE_FAILED;
    }
    DeleteFileA(journalPath().c_str());
    return ERR_OK;
}

bool CUpdateQn::rollBack(const std::vector<std::string>& names, const std::vector<bool>& hadLive, unsigned done,
                         bool currentMoved) {
    bool ok = true;
    if (currentMoved) ok = MoveFileA(backupPath(names[done]).c_str(), livePath(names[done]).c_str()) && ok;
    for (unsigned i = done; i-- > 0;) {
        const std::string live = livePath(names[i]);
        // The new content goes back beside the live file, so that a later
        // recovery can still finish the update if this rollback stops half way.
        if (!MoveFileA(live.c_str(), (live + kStagedSuffix).c_str())) {
            ok = false;
            continue;
        }
        if (hadLive[i] && !MoveFileA(backupPath(names[i]).c_str(), live.c_str())) ok = false;
    }
    return ok;
}

int CUpdateQn::recoverInterruptedUpdate() {
    const std::string journal = journalPath();
    CBlob blob;
    if (!tesel::isFileExist(journal) || tesel::loadBlob(journal, &blob) != ERR_OK) return ERR_OK;
    unsigned format = 0;
    blob >> format;
    std::vector<std::string> names;
    if (blob.isMalformed() || format != kJournalFormat ||
        readPackageInfo(CBlob(blob.getData() + blob.getOffset(), blob.remaining()), names) != ERR_OK) {
        // Not a journal this agent wrote whole: there is nothing it can finish.
        DeleteFileA(journal.c_str());
        return ERR_OK;
    }
    for (const std::string& name : names) {
        const std::string live = livePath(name);
        const std::string staged = live + kStagedSuffix;
        const std::string backup = backupPath(name);
        if (tesel::isFileExist(staged)) {
            // Not yet in place: finish this file as the installation would have.
            if (tesel::isFileExist(live)) {
                if (tesel::isFileExist(backup)) DeleteFileA(backup.c_str());
                if (!MoveFileA(live.c_str(), backup.c_str())) return ERR_UPDATE_FAILED;
            }
            if (!MoveFileA(staged.c_str(), live.c_str())) return ERR_UPDATE_FAILED;
        } else if (!tesel::isFileExist(live) && tesel::isFileExist(backup)) {
            // Nothing new to put there: the previous version comes back.
            if (!MoveFileA(backup.c_str(), live.c_str())) return ERR_UPDATE_FAILED;
        }
    }
    DeleteFileA(journal.c_str());
    return ERR_OK;
}

int CUpdateQn::createUpdatePackage(std::string sourceFolder, std::string targetFolder) {
    return createUpdatePackage(std::move(sourceFolder), std::move(targetFolder), getVersion());
}

int CUpdateQn::createUpdatePackage(std::string sourceFolder, std::string targetFolder, unsigned version) {
    tesel::createFolder(targetFolder);

    // The whole listing is taken before anything is written, so a target
    // inside the source never lists its own output. Names are sorted so
    // that the same folder always gives the same package.
    std::vector<std::string> names;
    if (!platform::listFileNames(sourceFolder, names)) return ERR_INTERNAL;
    std::sort(names.begin(), names.end());
    const bool sign = !m_signingKey.empty();
    // A signature binds the variant: one for no variant would install nowhere.
    if (sign && getType() == tesel::QN_UNSPECIFIED) return ERR_INTERNAL;

    for (unsigned k = 1; k <= names.size(); ++k) {
        CBlob content;
        if (tesel::loadBlob(joinPath(sourceFolder, names[k - 1]), &content) != ERR_OK)
            return ERR_INTERNAL;
        unsigned char trailer[kPartTrailerSize] = {};
        if (sign) {
            unsigned char digest[kDigestSize];
            partDigest(getType(), version, k, names[k - 1], content.getData(), content.getSize(), digest);
            if (!signDigest(m_signingKey, digest, trailer)) return ERR_INTERNAL;
        }
        CBlob part(content.getSize() + kPartTrailerSize);
        part.serialize(content.getData(), content.getSize());
        part.serialize(trailer, kPartTrailerSize);
        if (part.isMalformed() || content.getSize() > part.getSize())
            return ERR_INTERNAL;
        if (tesel::saveBlob(&part, joinPath(targetFolder, partFileName(k))) != 1)
            return ERR_INTERNAL;
    }
    CBlob info = writePackageInfo(names);
    if (sign) {
        unsigned char digest[kDigestSize];
        unsigned char signature[kSignatureSize];
        listDigest(getType(), version, info.getData(), info.getSize(), digest);
        if (!signDigest(m_signingKey, digest, signature)) return ERR_INTERNAL;
        CBlob signedInfo(info.getSize() + kSignatureSize);
        signedInfo.serialize(info.getData(), info.getSize());
        signedInfo.serialize(signature, kSignatureSize);
        info = std::move(signedInfo);
    }
    if (tesel::saveBlob(&info, joinPath(targetFolder, kInfoFileName)) != 1)
        return ERR_INTERNAL;
    return ERR_OK;
}
