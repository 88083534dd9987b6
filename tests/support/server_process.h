// Real servers for tests (nginx, proxies, SOCKS servers), started as child processes on 127.0.0.1
// and stopped when the object goes. Every wait is bounded; a server that cannot be found or does
// not start throws std::runtime_error with a text that names it, so the test fails clearly
// instead of passing without its server.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace test_support {

// A folder under the system's temporary folder, removed with everything in it at destruction.
class TempFolder {
  public:
    explicit TempFolder(const std::string& prefix = "pd_test");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path_; }
    // Path() + "/" + name.
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// The full path of an installed program (searched in PATH, /usr/sbin and /sbin), or "" if none.
std::string FindProgram(const std::string& name);

// Writes text into path, replacing the file; throws on failure.
void WriteTextFile(const std::string& path, const std::string& text);

// Writes a password file for HTTP Basic authentication (nginx's auth_basic_user_file) with one
// user, the password hashed by `openssl passwd`; throws when openssl is missing or fails.
void WriteBasicPasswordFile(const std::string& path, const std::string& user,
                            const std::string& password);

// A child process running a server. The constructor starts it and returns once something
// accepts connections at host (127.0.0.1 or ::1) and port, or throws (the process is stopped first)
// when it has exited or not listened within the time-out.
class ServerProcess {
  public:
    ServerProcess(const std::vector<std::string>& argv, std::uint16_t port,
                  std::chrono::milliseconds startTimeout = std::chrono::seconds(10),
                  const std::string& host = "127.0.0.1");
    ~ServerProcess();  // SIGTERM, then SIGKILL after two seconds; always reaped
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    pid_t Pid() const { return pid_; }
    std::uint16_t Port() const { return port_; }

  private:
    void Stop();
    pid_t pid_ = -1;
    std::uint16_t port_;
};

// A free TCP port on 127.0.0.1 for a server process to listen on.
std::uint16_t FreeLoopbackPort();

// nginx serving root on 127.0.0.1 at a free port, with its own configuration and logs in a
// temporary folder. serverDirectives are added inside the server block (for example
// "auth_basic ...;"). With certificate and key files given, the port speaks TLS. It listens on
// listenAddress only, which may be "::1".
class LocalNginx {
  public:
    explicit LocalNginx(const std::string& root, const std::string& serverDirectives = "",
                        const std::string& certificateFile = "", const std::string& keyFile = "",
                        const std::string& listenAddress = "127.0.0.1");
    std::uint16_t Port() const { return port_; }
    // "http://127.0.0.1:<port>" (or "http://[::1]:<port>", "https://…") followed by path.
    std::string Url(const std::string& path) const;
    const std::string& WorkFolder() const { return work_.Path(); }

  private:
    TempFolder work_;
    std::uint16_t port_;
    bool tls_;
    std::string host_;  // as the configuration and addresses write it
    std::vector<std::string> Arguments();
    ServerProcess process_;
};

// tinyproxy on 127.0.0.1 at a free port, allowing CONNECT to any port. extraConfig is appended to
// its configuration (for example "BasicAuth me secret").
class LocalTinyproxy {
  public:
    explicit LocalTinyproxy(const std::string& extraConfig = "");
    std::uint16_t Port() const { return port_; }

  private:
    TempFolder work_;
    std::uint16_t port_;
    std::vector<std::string> Arguments(const std::string& extraConfig);
    ServerProcess process_;
};

// microsocks, a SOCKS 5 server, on 127.0.0.1 at a free port. With a user code given it accepts
// only clients that authenticate with that user code and password.
class LocalMicrosocks {
  public:
    explicit LocalMicrosocks(const std::string& usercode = "", const std::string& password = "");
    std::uint16_t Port() const { return port_; }

  private:
    std::uint16_t port_;
    std::vector<std::string> Arguments(const std::string& usercode, const std::string& password);
    ServerProcess process_;
};

// dante's server on 127.0.0.1 at a free port, for SOCKS 4 (it takes no SOCKS 4A host names) and
// SOCKS 5 without authentication, connecting anywhere.
class LocalDante {
  public:
    LocalDante();
    std::uint16_t Port() const { return port_; }

  private:
    TempFolder work_;
    std::uint16_t port_;
    std::vector<std::string> Arguments();
    ServerProcess process_;
};

}  // namespace test_support
