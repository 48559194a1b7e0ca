// A loopback HTTP server for tests: runs http_fixture.py (next to this file)
// as a child process and steers it through its standard input. Everything
// stays on 127.0.0.1.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace testing_http {

inline std::string toHex(const std::string& bytes) {
    if (bytes.empty()) return "-";
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

inline std::string fromHex(const std::string& hex) {
    if (hex == "-") return {};
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// Bytes of a little-endian 32-bit value.
inline std::string le32(unsigned v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

inline const std::string kMagic = "tesel.message";

inline std::string errorForm(unsigned serverNumber) { return kMagic + "error=" + le32(serverNumber); }

struct LoggedRequest {
    std::string method;
    std::string path;
    std::string body;
    std::string headers;  // "Name: value\n" lines as received

    bool hasHeader(const std::string& line) const {
        return headers.find(line + "\n") != std::string::npos;
    }
    std::string header(const std::string& name) const {
        const std::string key = name + ": ";
        const auto at = headers.find(key);
        if (at == std::string::npos) return {};
        return headers.substr(at + key.size(), headers.find('\n', at) - at - key.size());
    }
};

class HttpFixture {
public:
    HttpFixture() {
        // Loopback traffic never goes through a proxy the environment names.
        setenv("no_proxy", "127.0.0.1,localhost", 1);
        setenv("NO_PROXY", "127.0.0.1,localhost", 1);
        std::string script = __FILE__;
        script = script.substr(0, script.find_last_of('/') + 1) + "http_fixture.py";
        int toChild[2], fromChild[2];
        if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
        posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
        char python[] = "python3";
        char* argv[] = {python, script.data(), nullptr};
        const int rc = posix_spawnp(&m_pid, "python3", &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(toChild[0]);
        close(fromChild[1]);
        if (rc != 0) throw std::runtime_error("cannot start python3");
        m_in = fdopen(toChild[1], "w");
        m_out = fdopen(fromChild[0], "r");
        std::istringstream first(readLine());
        std::string word;
        first >> word >> m_port >> word >> m_blackholePort >> word >> m_refusedPort;
        if (m_port == 0) throw std::runtime_error("fixture did not start");
    }

    ~HttpFixture() {
        if (m_in) std::fclose(m_in);  // the script ends when its input closes
        if (m_out) std::fclose(m_out);
        int status = 0;
        if (m_pid > 0) waitpid(m_pid, &status, 0);
    }

    HttpFixture(const HttpFixture&) = delete;
    HttpFixture& operator=(const HttpFixture&) = delete;

    static std::string host() { return "http://127.0.0.1"; }
    unsigned port() const { return m_port; }
    unsigned blackholePort() const { return m_blackholePort; }
    unsigned refusedPort() const { return m_refusedPort; }

    void route(const std::string& path, const std::string& body, int status = 200,
               const std::string& contentType = "application/octet-stream",
               const std::string& location = "") {
        command("route " + path + " " + std::to_string(status) + " " + contentType + " " +
                toHex(body) + (location.empty() ? "" : " " + location));
    }
    void download(const std::string& fileName, const std::string& body, int status = 200) {
        command("download " + fileName + " " + std::to_string(status) + " " + toHex(body));
    }
    void package(const std::string& folder) { command("package " + toHex(folder)); }
    void reset() { command("reset"); }

    std::vector<LoggedRequest> log() {
        send("log");
        std::istringstream head(readLine());
        std::string word;
        std::size_t n = 0;
        head >> word >> n;
        std::vector<LoggedRequest> out;
        for (std::size_t i = 0; i < n; ++i) {
            std::istringstream line(readLine());
            LoggedRequest r;
            std::string body, headers;
            line >> r.method >> r.path >> body >> headers;
            r.body = fromHex(body);
            r.headers = fromHex(headers);
            out.push_back(r);
        }
        return out;
    }

private:
    void send(const std::string& line) {
        std::fputs((line + "\n").c_str(), m_in);
        std::fflush(m_in);
    }
    void command(const std::string& line) {
        send(line);
        if (readLine() != "OK") throw std::runtime_error("fixture refused: " + line);
    }
    std::string readLine() {
        std::string line;
        int c = 0;
        while ((c = std::fgetc(m_out)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
        return line;
    }

    pid_t m_pid = 0;
    FILE* m_in = nullptr;
    FILE* m_out = nullptr;
    unsigned m_port = 0;
    unsigned m_blackholePort = 0;
    unsigned m_refusedPort = 0;
};

}  // namespace testing_http
