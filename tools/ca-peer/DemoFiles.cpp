#include "DemoFiles.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace capeer {

namespace {

const char* contentTypeOf(const fs::path& file) {
    const std::string ext = file.extension().string();
    if (ext == ".html") return "text/html; charset=utf-8";
    if (ext == ".css") return "text/css; charset=utf-8";
    if (ext == ".js" || ext == ".mjs") return "text/javascript; charset=utf-8";
    if (ext == ".json") return "application/json";
    if (ext == ".svg") return "image/svg+xml";
    if (ext == ".png") return "image/png";
    if (ext == ".ico") return "image/x-icon";
    if (ext == ".txt" || ext == ".ts") return "text/plain; charset=utf-8";
    return "application/octet-stream";
}

HttpAnswer demoNotFound(const std::string& why) {
    HttpAnswer a;
    a.status = 404;
    a.contentType = "text/plain; charset=utf-8";
    a.body = bytesOf("not found\n");
    a.note = "demo: " + why;
    return a;
}

bool safeRelative(const std::string& rel) {
    if (rel.find_first_of("\\%") != std::string::npos || rel.find('\0') != std::string::npos) return false;
    std::size_t start = 0;
    while (start <= rel.size()) {
        const std::size_t slash = rel.find('/', start);
        const std::string part = rel.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part == "..") return false;
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return true;
}

}  // namespace

std::optional<HttpAnswer> serveDemo(const std::vector<std::string>& folders, const std::string& method,
                                    const std::string& target) {
    const std::string path = target.substr(0, target.find_first_of("?#"));
    if (path != "/demo" && path.rfind("/demo/", 0) != 0) return std::nullopt;
    if (method != "GET" && method != "HEAD") return demoNotFound("method " + method);
    if (path == "/demo") {
        HttpAnswer a;
        a.status = 301;
        a.contentType = "text/plain; charset=utf-8";
        a.location = "/demo/" + target.substr(path.size());
        a.note = "demo: redirect";
        return a;
    }
    std::string rel = path.substr(6);
    if (!safeRelative(rel)) return demoNotFound("refused path");
    if (rel.empty() || rel.back() == '/') rel += "index.html";
    fs::path file;
    for (const std::string& folder : folders) {
        std::error_code ec;
        if (fs::is_regular_file(fs::path(folder) / rel, ec)) {
            file = fs::path(folder) / rel;
            break;
        }
    }
    if (file.empty()) return demoNotFound("no file " + rel);
    std::ifstream in(file, std::ios::binary);
    if (!in) return demoNotFound("unreadable " + rel);
    HttpAnswer a;
    a.contentType = contentTypeOf(file);
    a.body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    a.note = "demo " + rel;
    return a;
}

}  // namespace capeer
