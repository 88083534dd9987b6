#include "tests/support/tls_test_server.h"

#include <netinet/in.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "tests/support/loopback_port.h"
#include "tests/support/send_all.h"

namespace test_support {
namespace {

std::shared_ptr<SSL_CTX> ServerContext(const CertificateAndKey& identity) {
    std::shared_ptr<SSL_CTX> context(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    if (!context ||
        SSL_CTX_use_certificate_chain_file(context.get(), identity.certificateFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context.get(), identity.keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
        throw std::runtime_error("TLS test server: cannot load " + identity.certificateFile);
    return context;
}

// Hands the second name's certificate to the clients that ask for that name.
int ChooseIdentity(SSL* ssl, int*, void* argument) {
    const auto* hosted = static_cast<const std::pair<std::string, SSL_CTX*>*>(argument);
    const char* name = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name);
    if (name && hosted->first == name) SSL_set_SSL_CTX(ssl, hosted->second);
    return SSL_TLSEXT_ERR_OK;
}

}  // namespace

TlsTestServer::TlsTestServer(const CertificateAndKey& identity) {
    // OpenSSL writes with write(): a client that has gone must not end the test program.
    ::signal(SIGPIPE, SIG_IGN);
    context_ = ServerContext(identity);
    listenFd_ = ListenOnLoopback(16, port_);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

TlsTestServer::TlsTestServer(const CertificateAndKey& identity, const std::string& sniName,
                             const CertificateAndKey& sniIdentity)
    : TlsTestServer(identity) {
    auto sniContext = ServerContext(sniIdentity);
    hosted_ = {sniName, sniContext.get()};
    sniContext_ = sniContext;
    auto* context = static_cast<SSL_CTX*>(context_.get());
    SSL_CTX_set_tlsext_servername_callback(context, ChooseIdentity);
    SSL_CTX_set_tlsext_servername_arg(context, &hosted_);
}

TlsTestServer::~TlsTestServer() {
    stopping_ = true;
    acceptor_.join();
    for (auto& connection : connections_)
        connection.join();
    ::close(listenFd_);
}

std::string TlsTestServer::Url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(port_) + path;
}

void TlsTestServer::AddConnection(TlsScript script) {
    std::lock_guard lock(mutex_);
    scripts_.push_back(std::move(script));
}

std::vector<std::string> TlsTestServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void TlsTestServer::AcceptLoop() {
    while (!stopping_) {
        int fd = AcceptWithin(listenFd_, 50);
        if (fd < 0) continue;
        std::lock_guard lock(mutex_);
        if (scripts_.empty()) {
            ::close(fd);
            continue;
        }
        connections_.emplace_back(
            [this, fd, script = std::move(scripts_.front())] { Serve(fd, script); });
        scripts_.pop_front();
    }
}

void TlsTestServer::Serve(int fd, TlsScript script) {
    timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (script.inClear) {
        SendAll(fd, script.response);
        ::close(fd);
        return;
    }
    SSL* ssl = SSL_new(static_cast<SSL_CTX*>(context_.get()));
    SSL_set_fd(ssl, fd);
    if (script.maxVersion != 0) {
        // Old versions are refused at the default security level.
        SSL_set_security_level(ssl, 0);
        SSL_set_cipher_list(ssl, "DEFAULT@SECLEVEL=0");
        SSL_set_max_proto_version(ssl, script.maxVersion);
    }
    if (script.requireClientCertificate)
        SSL_set_verify(ssl, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    if (SSL_accept(ssl) != 1) {
        // Unread bytes at the close would reset the connection before the alert is read.
        ::shutdown(fd, SHUT_WR);
        char block[4096];
        while (!stopping_ && ::recv(fd, block, sizeof block, 0) > 0) {
        }
    } else {
        std::string request;
        char block[4096];
        while (request.find("\r\n\r\n") == std::string::npos && !stopping_) {
            int count = SSL_read(ssl, block, sizeof block);
            if (count <= 0) break;
            request.append(block, static_cast<std::size_t>(count));
        }
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
        }
        if (!script.response.empty())
            SSL_write(ssl, script.response.data(), static_cast<int>(script.response.size()));
        if (script.ending == TlsEnding::CloseNotify) SSL_shutdown(ssl);
        if (script.ending == TlsEnding::Reset) {
            linger reset{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        }
    }
    SSL_free(ssl);
    ::close(fd);
}

}  // namespace test_support
