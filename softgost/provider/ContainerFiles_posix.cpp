#include "softgost/provider/ContainerFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace plcsp::files {

std::string defaultRoot() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
        return std::string(xdg) + "/pellamo/csp";
    }
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.local/share/pellamo/csp";
}

std::string join(const std::string& dir, const std::string& name) { return dir + "/" + name; }

bool isDir(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool makeDirs(const std::string& path) {
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t next = path.find('/', pos);
        if (next == std::string::npos) {
            next = path.size();
        }
        const std::string cur = path.substr(0, next);
        if (!cur.empty() && ::mkdir(cur.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
        pos = next + 1;
    }
    return isDir(path);
}

MakeDir makeDir(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0) {
        return MakeDir::Made;
    }
    return errno == EEXIST ? MakeDir::Exists : MakeDir::Failed;
}

bool listDir(const std::string& path, std::vector<std::string>& names) {
    DIR* d = ::opendir(path.c_str());
    if (!d) {
        return false;
    }
    while (dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
            names.emplace_back(e->d_name);
        }
    }
    ::closedir(d);
    return true;
}

bool removeDirWithFiles(const std::string& path) {
    std::vector<std::string> names;
    if (!listDir(path, names)) {
        return false;
    }
    for (const auto& f : names) {
        ::unlink(join(path, f).c_str());
    }
    return ::rmdir(path.c_str()) == 0;
}

bool writeFileAtomic(const std::string& dir, const char* name, const unsigned char* data, std::size_t n) {
    const std::string tmp = dir + "/." + name + ".tmp";
    const std::string dst = join(dir, name);
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    std::size_t done = 0;
    while (done < n) {
        ssize_t w = ::write(fd, data + done, n - done);
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w <= 0) {
            ::close(fd);
            ::unlink(tmp.c_str());
            return false;
        }
        done += static_cast<std::size_t>(w);
    }
    if (::fsync(fd) != 0) {
        ::close(fd);
        ::unlink(tmp.c_str());
        return false;
    }
    if (::close(fd) != 0 || ::rename(tmp.c_str(), dst.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    // The rename itself reaches the disk with the folder.
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

bool readFile(const std::string& path, std::size_t maxBytes, SecureBytes& out) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0 ||
        static_cast<unsigned long long>(st.st_size) > maxBytes) {
        ::close(fd);
        return false;
    }
    SecureBytes buf(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < buf.size()) {
        ssize_t r = ::read(fd, buf.data() + done, buf.size() - done);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            ::close(fd);
            return false;
        }
        done += static_cast<std::size_t>(r);
    }
    ::close(fd);
    out = std::move(buf);
    return true;
}

}  // namespace plcsp::files
