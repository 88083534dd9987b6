// TlsSession: one client-side TLS session over memory buffers. The socket layer hands it the bytes
// that arrive (PutInput) and sends what it produces (Output); the session itself never touches a
// descriptor, never blocks and keeps no thread. Peers are verified against the system's trust
// store (plus an optional extra CA file), with the host name or IP address checked and TLS 1.2 as
// the least version accepted.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

struct ssl_st;
struct ssl_ctx_st;
struct bio_st;

enum class TlsStep {
    Done,       // the call did its work (handshake finished, bytes read)
    WantInput,  // more bytes from the peer are needed
    Closed,     // the peer ended the session with close_notify
    Failed,     // the session is broken; ErrorText says why
};

class TlsSession {
  public:
    // Receives the alert lines of the session ("TLS alert read: fatal bad certificate").
    using AlertSink = std::function<void(const std::string& line)>;

    TlsSession();
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // Prepares the session for serverName (a host name, sent as SNI, or an IP literal); false with
    // ErrorText set when the context cannot be made, for example an unreadable extra CA file.
    bool Start(const std::string& serverName, const std::string& extraCaFile, AlertSink alerts);

    // Bytes received from the peer; EndInput once the peer has closed the connection.
    void PutInput(const char* data, int length);
    void EndInput();

    TlsStep Handshake();
    // Up to size plain bytes into buffer; the count, or 0 with the step that says why not.
    int Read(char* buffer, int size, TlsStep& step);
    // Encrypts the plain bytes into the output; false when the session cannot send.
    bool Write(const char* data, int length);
    // Puts close_notify into the output.
    void Shutdown();

    // The records waiting to be sent, and their removal once the caller has taken them.
    std::string_view Output() const;
    void ClearOutput();

    // Plain bytes ready to be read, and whether received bytes wait to be decrypted.
    int PlainBytesReady() const;
    bool HasUnreadInput() const;

    bool CertificateRejected() const { return certificateRejected_; }
    const std::string& ErrorText() const { return errorText_; }
    // "TLSv1.3 TLS_AES_256_GCM_SHA384" once the handshake is done.
    std::string Description() const;

  private:
    TlsStep Fail(int result);

    ssl_st* ssl_ = nullptr;
    bio_st* input_ = nullptr;   // owned by ssl_
    bio_st* output_ = nullptr;  // owned by ssl_
    std::shared_ptr<ssl_ctx_st> context_;
    AlertSink alerts_;
    bool certificateRejected_ = false;
    std::string errorText_;
};
