#include "socket/tls_session.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <map>
#include <mutex>

namespace {

// Contexts are shared by every session with the same extra CA file: reading the trust store
// costs far more than a handshake's own set-up.
std::shared_ptr<ssl_ctx_st> ClientContext(const std::string& extraCaFile, std::string& error) {
    static std::mutex mutex;
    static std::map<std::string, std::shared_ptr<ssl_ctx_st>> contexts;
    std::lock_guard lock(mutex);
    if (auto found = contexts.find(extraCaFile); found != contexts.end()) return found->second;

    std::shared_ptr<ssl_ctx_st> context(SSL_CTX_new(TLS_client_method()), SSL_CTX_free);
    if (!context) {
        error = "cannot create a TLS context";
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
    if (SSL_CTX_set_default_verify_paths(context.get()) != 1) {
        error = "cannot read the system's trust store";
        return nullptr;
    }
    if (!extraCaFile.empty() &&
        SSL_CTX_load_verify_locations(context.get(), extraCaFile.c_str(), nullptr) != 1) {
        error = "cannot read the CA file " + extraCaFile;
        return nullptr;
    }
    contexts.emplace(extraCaFile, context);
    return context;
}

bool IsIpLiteral(const std::string& host) {
    unsigned char address[16];
    return inet_pton(AF_INET, host.c_str(), address) == 1 ||
           inet_pton(AF_INET6, host.c_str(), address) == 1;
}

std::string VerifyFailureText(long result) {
    switch (result) {
        case X509_V_ERR_HOSTNAME_MISMATCH:
            return "host name mismatch";
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return "IP address mismatch";
        default:
            return X509_verify_cert_error_string(result);
    }
}

void OnInfo(const SSL* ssl, int where, int value) {
    if (!(where & SSL_CB_ALERT)) return;
    auto* sink = static_cast<TlsSession::AlertSink*>(SSL_get_app_data(ssl));
    if (!sink || !*sink) return;
    (*sink)(std::string("TLS alert ") + ((where & SSL_CB_READ) ? "read" : "written") + ": " +
            SSL_alert_type_string_long(value) + " " + SSL_alert_desc_string_long(value));
}

}  // namespace

TlsSession::TlsSession() = default;

TlsSession::~TlsSession() {
    if (ssl_) SSL_free(ssl_);
}

bool TlsSession::Start(const std::string& serverName, const std::string& extraCaFile,
                       AlertSink alerts) {
    ERR_clear_error();
    context_ = ClientContext(extraCaFile, errorText_);
    if (!context_) return false;
    ssl_ = SSL_new(context_.get());
    input_ = BIO_new(BIO_s_mem());
    output_ = BIO_new(BIO_s_mem());
    if (!ssl_ || !input_ || !output_) {
        BIO_free(input_);
        BIO_free(output_);
        input_ = output_ = nullptr;
        errorText_ = "cannot create a TLS session";
        return false;
    }
    SSL_set_bio(ssl_, input_, output_);
    alerts_ = std::move(alerts);
    SSL_set_app_data(ssl_, &alerts_);
    SSL_set_info_callback(ssl_, OnInfo);
    SSL_set_connect_state(ssl_);
    // Addresses are checked as addresses; names are sent (SNI) and checked as names.
    bool named = IsIpLiteral(serverName)
                     ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), serverName.c_str()) == 1
                     : SSL_set_tlsext_host_name(ssl_, serverName.c_str()) == 1 &&
                           SSL_set1_host(ssl_, serverName.c_str()) == 1;
    if (!named) {
        errorText_ = "cannot check the server name " + serverName;
        return false;
    }
    SSL_set_hostflags(ssl_, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    return true;
}

void TlsSession::PutInput(const char* data, int length) {
    if (length > 0) BIO_write(input_, data, length);
}

void TlsSession::EndInput() {
    BIO_set_mem_eof_return(input_, 0);
}

TlsStep TlsSession::Handshake() {
    ERR_clear_error();
    int result = SSL_do_handshake(ssl_);
    if (result == 1) return TlsStep::Done;
    if (SSL_get_error(ssl_, result) == SSL_ERROR_WANT_READ) return TlsStep::WantInput;
    return Fail(result);
}

int TlsSession::Read(char* buffer, int size, TlsStep& step) {
    ERR_clear_error();
    int result = SSL_read(ssl_, buffer, size);
    if (result > 0) {
        step = TlsStep::Done;
        return result;
    }
    switch (SSL_get_error(ssl_, result)) {
        case SSL_ERROR_WANT_READ:
            step = TlsStep::WantInput;
            break;
        case SSL_ERROR_ZERO_RETURN:
            step = TlsStep::Closed;
            break;
        default:
            step = Fail(result);
    }
    return 0;
}

bool TlsSession::Write(const char* data, int length) {
    if (length <= 0) return true;
    ERR_clear_error();
    int result = SSL_write(ssl_, data, length);
    if (result == length) return true;
    Fail(result);
    return false;
}

void TlsSession::Shutdown() {
    ERR_clear_error();
    if (SSL_is_init_finished(ssl_)) SSL_shutdown(ssl_);
    ERR_clear_error();
}

std::string_view TlsSession::Output() const {
    char* data = nullptr;
    long length = BIO_get_mem_data(output_, &data);
    return length > 0 ? std::string_view(data, static_cast<std::size_t>(length))
                      : std::string_view();
}

void TlsSession::ClearOutput() {
    (void)BIO_reset(output_);
}

int TlsSession::PlainBytesReady() const {
    return SSL_pending(ssl_);
}

bool TlsSession::HasUnreadInput() const {
    return BIO_ctrl_pending(input_) > 0 || SSL_has_pending(ssl_);
}

std::string TlsSession::Description() const {
    return std::string(SSL_get_version(ssl_)) + " " + SSL_get_cipher_name(ssl_);
}

TlsStep TlsSession::Fail(int result) {
    long verifyResult = SSL_get_verify_result(ssl_);
    if (verifyResult != X509_V_OK) {
        certificateRejected_ = true;
        errorText_ = "certificate verify failed: " + VerifyFailureText(verifyResult);
    } else if (unsigned long error = ERR_peek_last_error(); error != 0) {
        const char* reason = ERR_reason_error_string(error);
        errorText_ = reason ? reason : "TLS error " + std::to_string(error);
    } else if (SSL_get_error(ssl_, result) == SSL_ERROR_SYSCALL) {
        errorText_ = "unexpected eof while reading";
    } else {
        errorText_ = "TLS failure";
    }
    ERR_clear_error();
    return TlsStep::Failed;
}
