#include "tests/support/server_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "tests/support/loopback_port.h"

namespace test_support {

namespace {

bool Accepts(const std::string& host, std::uint16_t port) {
    sockaddr_in6 ipv6{};
    sockaddr_in ipv4{};
    const bool isIPv6 = ::inet_pton(AF_INET6, host.c_str(), &ipv6.sin6_addr) == 1;
    ipv6.sin6_family = AF_INET6;
    ipv6.sin6_port = htons(port);
    ipv4.sin_family = AF_INET;
    ipv4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ipv4.sin_port = htons(port);
    int fd = ::socket(isIPv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool ok = isIPv6 ? ::connect(fd, reinterpret_cast<sockaddr*>(&ipv6), sizeof ipv6) == 0
                     : ::connect(fd, reinterpret_cast<sockaddr*>(&ipv4), sizeof ipv4) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

TempFolder::TempFolder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "_XXXXXX")).string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
    path_ = pattern;
    ::chmod(path_.c_str(), 0755);  // servers' workers may run as another user
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string FindProgram(const std::string& name) {
    std::string path = getenv("PATH") ? getenv("PATH") : "";
    path += ":/usr/sbin:/sbin:/usr/bin";
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(':', start);
        if (end == std::string::npos) end = path.size();
        std::string candidate = path.substr(start, end - start) + "/" + name;
        if (end > start && ::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return "";
}

void WriteTextFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

void WriteBasicPasswordFile(const std::string& path, const std::string& user,
                            const std::string& password) {
    const std::string openssl = FindProgram("openssl");
    if (openssl.empty()) throw std::runtime_error("openssl not installed (scripts/setup.sh)");
    std::string quoted = "'";
    for (char c : password)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted += "'";
    FILE* pipe = ::popen((openssl + " passwd -apr1 " + quoted).c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run openssl passwd");
    char hash[256] = {};
    const bool read = std::fgets(hash, sizeof hash, pipe) != nullptr;
    if (::pclose(pipe) != 0 || !read) throw std::runtime_error("openssl passwd failed");
    WriteTextFile(path, user + ":" + hash);
}

std::uint16_t FreeLoopbackPort() {
    return ClosedLoopbackPort();
}

ServerProcess::ServerProcess(const std::vector<std::string>& argv, std::uint16_t port,
                             std::chrono::milliseconds startTimeout, const std::string& host)
    : port_(port) {
    if (argv.empty() || ::access(argv[0].c_str(), X_OK) != 0)
        throw std::runtime_error(
            "server program not installed: " + (argv.empty() ? std::string("(none)") : argv[0]) +
            " (scripts/setup.sh installs it)");
    std::vector<char*> args;
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("cannot fork for " + argv[0]);
    if (pid_ == 0) {
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + startTimeout;
    while (!Accepts(host, port_)) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error(argv[0] + " exited before listening on port " +
                                     std::to_string(port_));
        }
        if (std::chrono::steady_clock::now() > deadline) {
            Stop();
            throw std::runtime_error(argv[0] + " did not listen on port " + std::to_string(port_) +
                                     " in time");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));  // polling a child's start
    }
}

ServerProcess::~ServerProcess() {
    Stop();
}

void ServerProcess::Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

LocalNginx::LocalNginx(const std::string& root, const std::string& serverDirectives,
                       const std::string& certificateFile, const std::string& keyFile,
                       const std::string& listenAddress)
    : work_("pd_nginx"),
      port_(FreeLoopbackPort()),
      tls_(!certificateFile.empty()),
      host_(listenAddress.find(':') == std::string::npos ? listenAddress
                                                         : "[" + listenAddress + "]"),
      process_((std::filesystem::create_directories(work_.Path() + "/tmp"),
                WriteTextFile(work_ / "nginx.conf",
                              "daemon off;\nworker_processes 1;\npid " + work_ / "nginx.pid" +
                                  ";\nerror_log " + work_ / "error.log" +
                                  ";\nuser root;\nevents {}\nhttp {\n  access_log off;\n"
                                  "  client_body_temp_path " +
                                  work_ / "tmp/body" +
                                  ";\n"
                                  "  proxy_temp_path " +
                                  work_ / "tmp/proxy" +
                                  ";\n"
                                  "  fastcgi_temp_path " +
                                  work_ / "tmp/fastcgi" +
                                  ";\n"
                                  "  uwsgi_temp_path " +
                                  work_ / "tmp/uwsgi" +
                                  ";\n"
                                  "  scgi_temp_path " +
                                  work_ / "tmp/scgi" +
                                  ";\n"
                                  "  server {\n    listen " +
                                  host_ + ":" + std::to_string(port_) +
                                  (tls_ ? " ssl;\n    ssl_certificate " + certificateFile +
                                              ";\n    ssl_certificate_key " + keyFile + ";\n"
                                        : std::string(";\n")) +
                                  "    root " + root + ";\n" + serverDirectives + "\n  }\n}\n"),
                Arguments()),
               port_, std::chrono::seconds(10), listenAddress) {}

std::vector<std::string> LocalNginx::Arguments() {
    return {FindProgram("nginx"), "-e", work_ / "error.log", "-c",
            work_ / "nginx.conf", "-p", work_.Path()};
}

std::string LocalNginx::Url(const std::string& path) const {
    return std::string(tls_ ? "https" : "http") + "://" + host_ + ":" + std::to_string(port_) +
           path;
}

LocalTinyproxy::LocalTinyproxy(const std::string& extraConfig)
    : work_("pd_tinyproxy"), port_(FreeLoopbackPort()), process_(Arguments(extraConfig), port_) {}

std::vector<std::string> LocalTinyproxy::Arguments(const std::string& extraConfig) {
    WriteTextFile(work_ / "tinyproxy.conf",
                  "Port " + std::to_string(port_) +
                      "\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\nAllow 127.0.0.1\n"
                      "LogLevel Critical\nPidFile \"" +
                      work_ / "tinyproxy.pid" + "\"\n" + extraConfig + "\n");
    return {FindProgram("tinyproxy"), "-d", "-c", work_ / "tinyproxy.conf"};
}

LocalMicrosocks::LocalMicrosocks(const std::string& usercode, const std::string& password)
    : port_(FreeLoopbackPort()), process_(Arguments(usercode, password), port_) {}

std::vector<std::string> LocalMicrosocks::Arguments(const std::string& usercode,
                                                    const std::string& password) {
    std::vector<std::string> arguments{FindProgram("microsocks"), "-i", "127.0.0.1", "-p",
                                       std::to_string(port_)};
    if (!usercode.empty()) arguments.insert(arguments.end(), {"-u", usercode, "-P", password});
    return arguments;
}

LocalDante::LocalDante()
    : work_("pd_dante"), port_(FreeLoopbackPort()), process_(Arguments(), port_) {}

std::vector<std::string> LocalDante::Arguments() {
    WriteTextFile(work_ / "danted.conf",
                  "logoutput: " + work_ / "danted.log" +
                      "\ninternal: 127.0.0.1 port = " + std::to_string(port_) +
                      "\nexternal: 127.0.0.1\nsocksmethod: none\nclientmethod: none\n"
                      "user.unprivileged: nobody\n"
                      "client pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
                      "socks pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n  command: connect\n}\n");
    return {
        FindProgram("danted"), "-f", work_ / "danted.conf", "-p", work_ / "danted.pid", "-N", "1"};
}

}  // namespace test_support
