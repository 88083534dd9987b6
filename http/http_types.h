// The HTTP client's value types: states, request kinds, options, its exception and the error codes
// it reports for failures it detects itself.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "platform/exception.h"

// What the client waits for in each state.
enum THttpCliState : std::uint8_t {
    httpReady,                // the next request; only EndRequest returns here
    httpNotConnected,         // the login that looks the host up or takes the open connection
    httpConnected,            // nothing: the request is sent at once
    httpDnsLookup,            // the resolver's answer
    httpDnsLookupDone,        // the connect
    httpWaitingHeader,        // the response's header lines
    httpWaitingBody,          // the body, to its length, its last chunk or the close
    httpBodyReceived,         // the end of the response (set-ready, or a relocation)
    httpWaitingProxyConnect,  // the proxy's answer to CONNECT, then TLS through the tunnel
    httpClosing,              // the close asked for by httpRqClose
    httpAborting,             // the close of an aborted request
};

// "httpReady" and so on; "INVALID STATE" for any other value.
const char* HttpCliStateName(THttpCliState state);

enum THttpRequest : std::uint8_t {
    httpRqNone,
    httpRqGet,
    httpRqPost,
    httpRqPut,
    httpRqHead,
    httpRqClose,
};

enum THttpCliOption : std::uint8_t {
    httpoNoBasicAuth,
    httpoNoNTLMAuth,
    httpoBandwidthControl,
    httpoEnableContentCoding,
    httpoUseQuality,
};

// Which scheme to send before any challenge (and which one the options may not forbid).
enum THttpAuthScheme : std::uint8_t {
    httpSchemeNone,
    httpSchemeBasic,
    httpSchemeNtlm,
};

// Where an NTLM exchange stands, for the server and for the proxy. NTLM authenticates the
// connection, so the exchange needs one connection kept open from the type-1 message on.
enum THttpNtlmAuthState : std::uint8_t {
    ntlmIdle,              // nothing sent; waiting for an "NTLM" challenge
    ntlmNegotiateSent,     // the next request carries the type-1 message
    ntlmChallengeRead,     // never entered
    ntlmAuthenticateSent,  // the next request carries the type-3 message
    ntlmFinished,          // the connection is authenticated; nothing more is sent
};

enum THttpBasicAuthState : std::uint8_t {
    basicIdle,             // nothing sent; waiting for a "Basic" challenge
    basicCredentialsSent,  // the next request carries the credentials
    basicFinished,         // the credentials were accepted
};

// A set of THttpCliOption, bit n for value n.
class THttpCliOptions {
  public:
    constexpr THttpCliOptions() = default;
    constexpr THttpCliOptions(std::initializer_list<THttpCliOption> options) {
        for (auto option : options)
            Include(option);
    }
    constexpr bool Contains(THttpCliOption option) const { return bits_ & Bit(option); }
    constexpr void Include(THttpCliOption option) { bits_ |= Bit(option); }
    constexpr void Exclude(THttpCliOption option) { bits_ &= ~Bit(option); }
    constexpr std::uint8_t Bits() const { return bits_; }
    constexpr bool operator==(const THttpCliOptions&) const = default;

  private:
    static constexpr std::uint8_t Bit(THttpCliOption option) {
        return static_cast<std::uint8_t>(1u << option);
    }
    std::uint8_t bits_ = 0;
};

class EHttpException : public platform::Exception {
  public:
    EHttpException(const std::string& message, std::uint16_t errorNumber)
        : platform::Exception(message), ErrorNumber(errorNumber) {}
    std::uint16_t ErrorNumber;
};

// Codes of EHttpException raised for misuse.
constexpr std::uint16_t httpErrBusy = 1;
constexpr std::uint16_t httpErrNothingToSend = 2;
constexpr std::uint16_t httpErrBandwidthSettings = 4;  // bandwidth control with unusable values
constexpr std::uint16_t httpErrVersion = 5;
// An authentication step entered in a state it does not expect (raised from the message loop).
constexpr std::uint16_t httpErrAuthState = 6;

// ErrCode values of OnRequestDone (and, except for the abort, codes of the EHttpException that
// Get raises) for failures the client finds itself; socket errors are 10004 and above.
constexpr std::uint16_t httpErrAborted = 3;
constexpr std::uint16_t httpErrDocumentCutShort = 7;  // the connection closed inside the response
constexpr std::uint16_t httpErrProtocol = 8;          // a response that cannot be read
constexpr std::uint16_t httpErrLocalFailure = 9;      // the stream or an event handler raised

// The status code a response that cannot be read ends with.
constexpr int httpStatusProtocolError = 502;
