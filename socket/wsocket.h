// TCustomWSocket: the asynchronous socket component. One object per connection, with string
// settings, a small state machine and events raised from the notifications its hidden window
// receives on the thread that created it.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "log/log_options.h"
#include "platform/component.h"
#include "platform/winsock.h"
#include "socket/send_buffer.h"
#include "socket/socket_address.h"
#include "socket/socket_errors.h"

enum TSocketState {
    wsInvalidState,
    wsOpened,
    wsBound,
    wsConnecting,
    wsSocksConnected,
    wsConnected,
    wsAccepting,
    wsListening,
    wsClosed
};
enum TSocketSendFlags { wsSendNormal, wsSendUrgent };
enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };
enum TSocketKeepAliveOnOff { wsKeepAliveOff, wsKeepAliveOnCustom, wsKeepAliveOnSystem };
enum TWSocketOption { wsoNoReceiveLoop, wsoTcpNoDelay, wsoSIO_RCVALL };

// A set of TWSocketOption, one bit per value.
class TWSocketOptions {
  public:
    constexpr TWSocketOptions() = default;
    constexpr TWSocketOptions(std::initializer_list<TWSocketOption> options) {
        for (auto option : options)
            bits_ |= Bit(option);
    }
    constexpr bool Contains(TWSocketOption option) const { return bits_ & Bit(option); }
    constexpr TWSocketOptions With(TWSocketOption option) const {
        TWSocketOptions result = *this;
        result.bits_ |= Bit(option);
        return result;
    }
    constexpr TWSocketOptions Without(TWSocketOption option) const {
        TWSocketOptions result = *this;
        result.bits_ &= static_cast<std::uint8_t>(~Bit(option));
        return result;
    }
    constexpr bool operator==(const TWSocketOptions&) const = default;

  private:
    static constexpr std::uint8_t Bit(TWSocketOption option) {
        return static_cast<std::uint8_t>(1u << option);
    }
    std::uint8_t bits_ = 0;
};

// Private window messages of the socket windows.
constexpr platform::UINT SocketEventMessage = platform::WM_USER + 1;
constexpr platform::UINT HostLookupDoneMessage = platform::WM_USER + 2;
constexpr platform::UINT AddrLookupDoneMessage = platform::WM_USER + 3;
constexpr platform::UINT CloseLaterMessage = platform::WM_USER + 4;
constexpr platform::UINT FreeLaterMessage = platform::WM_USER + 5;
constexpr platform::UINT TestExceptionMessage = platform::WM_USER + 6;

// A window message as the socket's handlers see it.
struct TMessage {
    platform::UINT Msg = 0;
    platform::WPARAM WParam = 0;
    platform::LPARAM LParam = 0;
    platform::LRESULT Result = 0;
};

class TCustomWSocket;
class TQtxLogger;

using TDataAvailable = std::function<void(TCustomWSocket* Sender, std::uint16_t ErrCode)>;
using TDataSent = std::function<void(TCustomWSocket* Sender, std::uint16_t ErrCode)>;
using TSessionClosed = std::function<void(TCustomWSocket* Sender, std::uint16_t ErrCode)>;
using TSessionAvailable = std::function<void(TCustomWSocket* Sender, std::uint16_t ErrCode)>;
using TSessionConnected = std::function<void(TCustomWSocket* Sender, std::uint16_t ErrCode)>;
using TDnsLookupDone = std::function<void(TCustomWSocket* Sender, std::uint16_t ErrCode)>;
using TSendData = std::function<void(TCustomWSocket* Sender, int BytesSent)>;
using TChangeState =
    std::function<void(TCustomWSocket* Sender, TSocketState OldState, TSocketState NewState)>;
using TBgExceptionEvent =
    std::function<void(TCustomWSocket* Sender, const std::exception& E, bool& CanClose)>;
using TNotifyEvent = std::function<void(TCustomWSocket* Sender)>;

class TCustomWSocket : public platform::TComponent {
  public:
    explicit TCustomWSocket(platform::TComponent* owner = nullptr);
    ~TCustomWSocket() override;

    // The diagnostic sink; the socket forgets it when the logger is destroyed.
    TQtxLogger* QtxLogger() const { return FQtxLogger; }

    // Settings; Addr, Port, Proto, LocalAddr and LocalPort may change only while closed.
    const std::string& Addr() const { return FAddrSpec; }
    void SetAddr(const std::string& value);
    const std::string& Port() const { return FPortSpec; }
    virtual void SetPort(const std::string& value);
    const std::string& Proto() const { return FProtoSpec; }
    virtual void SetProto(const std::string& value);
    const std::string& LocalAddr() const { return FLocalAddr; }
    void SetLocalAddr(const std::string& value);
    const std::string& LocalPort() const { return FLocalPortSpec; }
    void SetLocalPort(const std::string& value);
    std::string PeerAddr() { return GetPeerAddr(); }
    std::string PeerPort() { return GetPeerPort(); }
    const std::string& DnsResult() const { return FDnsResult; }
    const std::vector<std::string>& DnsResultList() const { return FDnsResultList; }
    TSocketState State() const { return FState; }
    int ReadCount() const { return FReadCount; }
    int RcvdCount() { return GetRcvdCount(); }
    int LastError() const { return FLastError; }
    void SetLastError(int value) { FLastError = value; }
    bool MultiThreaded() const { return FMultiThreaded; }
    void SetMultiThreaded(bool value) { FMultiThreaded = value; }
    bool MultiCast() const { return FMultiCast; }
    void SetMultiCast(bool value) { FMultiCast = value; }
    const std::string& MultiCastAddrStr() const { return FMultiCastAddrStr; }
    void SetMultiCastAddrStr(const std::string& value) { FMultiCastAddrStr = value; }
    int MultiCastIpTTL() const { return FMultiCastIpTTL; }
    void SetMultiCastIpTTL(int value) { FMultiCastIpTTL = value; }
    bool ReuseAddr() const { return FReuseAddr; }
    void SetReuseAddr(bool value) { FReuseAddr = value; }
    TWSocketOptions ComponentOptions() const { return FComponentOptions; }
    void SetComponentOptions(TWSocketOptions value) { FComponentOptions = value; }
    int ListenBacklog() const { return FListenBacklog; }
    void SetListenBacklog(int value) { FListenBacklog = value; }
    std::uint8_t ReqVerLow() const;
    void SetReqVerLow(std::uint8_t value);
    std::uint8_t ReqVerHigh() const;
    void SetReqVerHigh(std::uint8_t value);
    int FlushTimeout() const { return FFlushTimeout; }
    void SetFlushTimeout(int value) { FFlushTimeout = value; }
    TSocketSendFlags SendFlags();
    void SetSendFlags(TSocketSendFlags value);
    TSocketLingerOnOff LingerOnOff() const { return FLingerOnOff; }
    void SetLingerOnOff(TSocketLingerOnOff value) { FLingerOnOff = value; }
    int LingerTimeout() const { return FLingerTimeout; }
    void SetLingerTimeout(int value) { FLingerTimeout = value; }
    TSocketKeepAliveOnOff KeepAliveOnOff() const { return FKeepAliveOnOff; }
    void SetKeepAliveOnOff(TSocketKeepAliveOnOff value) { FKeepAliveOnOff = value; }
    int KeepAliveTime() const { return FKeepAliveTime; }
    void SetKeepAliveTime(int value) { FKeepAliveTime = value; }
    int KeepAliveInterval() const { return FKeepAliveInterval; }
    void SetKeepAliveInterval(int value) { FKeepAliveInterval = value; }
    platform::HWND WindowHandle() const { return FWindowHandle; }
    platform::SOCKET SocketHandle() const { return FSocketHandle; }
    bool Terminated() const { return FTerminated; }
    void SetTerminated(bool value) { FTerminated = value; }

    // Events, raised only when assigned.
    TSessionAvailable OnSessionAvailable;
    TSessionConnected OnSessionConnected;
    TSessionClosed OnSessionClosed;
    TChangeState OnChangeState;
    TDataAvailable OnDataAvailable;
    TDataSent OnDataSent;
    TSendData OnSendData;
    TDnsLookupDone OnDnsLookupDone;
    TNotifyEvent OnError;
    TBgExceptionEvent OnBgException;

    // Overridable operations, in slot order.
    virtual void SetQtxLogger(TQtxLogger* value);
    virtual void LogLine(TLogOption option, const std::string& msg);
    virtual bool LogEnabled(TLogOption option);
    virtual void HandleWindowMessage(TMessage& msg);
    virtual void CreateHiddenWindow();
    virtual void DestroyHiddenWindow();
    virtual void TryToSend();
    virtual void InitDefaults();
    virtual void CloseWithError(bool shutdown, std::uint16_t errCode);
    virtual void AbortWithError(std::uint16_t errCode);
    // (SetPort and SetProto above.)
    virtual int GetRcvdCount();
    virtual void BindLocal();
    virtual int SendLowLevel(const void* data, int len);
    virtual void ReportError(const std::string& msg);
    virtual void HandleBgException(const std::exception& e);
    virtual bool HandleDataAvailable(std::uint16_t errCode);
    virtual void HandleSessionAvailable(std::uint16_t errCode);
    virtual void HandleConnected(std::uint16_t errCode);
    virtual void HandleSessionConnected(std::uint16_t errCode);
    virtual void HandleSessionClosed(std::uint16_t errCode);
    virtual void TriggerDataSent(std::uint16_t errCode);
    virtual void HandleChangeState(TSocketState oldState, TSocketState newState);
    virtual void HandleDnsLookupDone(std::uint16_t errCode);
    virtual void HandleError();
    virtual int ReceiveLowLevel(void* buffer, int size, int flags);
    virtual int ReceiveFromLowLevel(platform::SOCKET handle, void* buffer, int size, int flags,
                                    sockaddr* from, int* fromLen);
    virtual void ProcessConnectEvent(const TMessage& msg);
    virtual void ProcessReadEvent(const TMessage& msg);
    virtual void ProcessWriteEvent(const TMessage& msg);
    virtual void ProcessAcceptEvent(const TMessage& msg);
    virtual void ProcessCloseEvent(const TMessage& msg);
    virtual void MarkConnected();
    virtual void Connect();
    virtual void Close();
    virtual void CloseLater();
    virtual void FreeLater();
    virtual void Abort();
    virtual void Flush();
    virtual void WaitUntilClosed();
    virtual void Listen();
    virtual platform::SOCKET Accept();
    virtual int Receive(void* buffer, int size);
    virtual std::string ReceiveText();
    virtual int ReceiveFrom(void* buffer, int size, sockaddr* from, int* fromLen);
    virtual int Send(const void* data, int len);
    virtual int SendTo(const sockaddr* dest, int destLen, const void* data, int len);
    virtual int SendText(const std::string& str);
    virtual void StartLookup(const std::string& hostName);
    virtual void StartReverseLookup(const std::string& hostAddr);
    virtual void ReverseLookupNow(const std::string& hostAddr);
    virtual void CancelLookup();
    virtual std::string GetPeerAddr();
    virtual std::string GetPeerPort();
    virtual int PeerSockAddr(sockaddr* name, int* nameLen);
    virtual std::string LocalPortText();
    virtual std::string LocalAddrText();
    virtual int LocalSockAddr(sockaddr* name, int* nameLen);
    virtual void Dup(platform::SOCKET newHandle);
    virtual void Shutdown(int how);
    virtual int Pause();
    virtual int Resume();
    virtual void QueueSendData(const void* data, int len);
    virtual void PumpMessages();
    virtual void AttachThread();
    virtual void DetachThread();

    // The pumps of the calling thread's queue.
    bool ProcessOneMessage();
    void ProcessThreadMessages();

  protected:
    void Notification(platform::TComponent* component, TOperation operation) override;
    void SetState(TSocketState newState);
    void HandleSendData(int bytesSent);
    // Reports the platform's last error for the named call (closing on reset/not connected).
    void ReportSocketError(const std::string& funcName);
    void DiscardSendBuffers();
    void ApplyLinger();
    // Before a graceful close: the bytes queued in the platform still reach the peer.
    void KeepQueuedBytesAtClose();
    void ApplyKeepAlive();
    // Bytes a layer received past the base's Receive count as read all the same.
    void CountReceived(int count) { FReadCount += count; }
    // A layer put bytes on the send chain itself: the next write event drains them.
    void MarkSendQueued() { FSendQueueEmpty = false; }
    // The next Connect goes to these addresses (tried as for a name) and port instead of Addr
    // and Port, which a layer keeps for itself (the destination a proxy is asked for).
    void SetConnectTarget(const std::vector<TSocketAddress>& addresses, int port);
    // A handle is open and not closed: Connect and Listen refuse to open another.
    bool InUse() const { return FSocketHandle != platform::INVALID_SOCKET && FState != wsClosed; }
    enum class TOpening { Connect, Listen };
    // The settings both ways of opening need, resolved where changed since the last time: the
    // protocol (a raw one, "raw_…", only for Listen), the port, the address and, for Connect, the
    // local port. False once a failure has been reported under the opening's prefix.
    bool ResolveSettings(TOpening opening);
    // Reads the platform's buffer sizes of the current handle; false after reporting a failure.
    bool ReadBufferSizes();
    // The addresses Addr stands for, as a Connect tries them: the results of this socket's
    // own lookup of that very name when it has them, so that a Connect after StartLookup never
    // blocks on the name.
    std::vector<TSocketAddress> ConnectAddresses();
    // Opens a handle to FSockAddr and starts connecting it; the first attempt of a Connect
    // reports the opening, later ones (to the next address) only connect.
    void OpenAttempt();
    // The attempt on the current handle failed at once or later: true when another attempt
    // goes on (the next address, or one started before), false when none is left.
    bool ContinueAfterFailedAttempt();
    // The current attempt had its moment: the next address is tried beside it.
    void StartNextAttempt();
    // Ids of the hidden window's timers.
    static constexpr std::uintptr_t kAcceptRestTimer = 1;
    static constexpr std::uintptr_t kNextAttemptTimer = 2;
    // A message for an attempt other than the current one, or a failed one that another follows:
    // taken here, nothing reaches the layers. True when the message was taken.
    bool TakeAttemptEvent(const TMessage& msg);
    // Closes every attempt but the current handle's and forgets the addresses not tried.
    void DropAttempts();
    void ReceiveLoop(std::uint16_t errCode, TWSocketOptions options);
    // Ends the running receive loop after the current notification: a layer that holds bytes it
    // will not add to until they go.
    void StopReceiveLoop() { FReceiveLoopStopped = true; }
    // Blocks until the queue that PumpMessages serves has input, or timeoutMs passed.
    void WaitForMessages(int timeoutMs);
    // Closes the handle that Connect or Listen opened when the open stops part-way (a failure
    // reported, or thrown on), so that no descriptor stays behind; Keep once it has succeeded.
    class OpenGuard {
      public:
        explicit OpenGuard(TCustomWSocket& socket)
            : socket_(socket), handle_(socket.FSocketHandle) {}
        ~OpenGuard();
        OpenGuard(const OpenGuard&) = delete;
        OpenGuard& operator=(const OpenGuard&) = delete;
        void Keep() { handle_ = platform::INVALID_SOCKET; }

      private:
        TCustomWSocket& socket_;
        platform::SOCKET handle_;
    };
    void HandleLookupDone(const TMessage& msg);
    void HandleReverseLookupDone(const TMessage& msg);
    // Cancels a pending lookup without an event and empties the results.
    void DropPendingLookup();
    // Results from the reply of a lookup: its addresses as texts, or a host entry's name and
    // aliases.
    void CollectAddresses();
    void CollectNames(const hostent& entry);
    void PostWriteEvent();
    // After an Accept that found no descriptor to spare, accepting rests a moment instead of
    // taking the same announcement again at once.
    void RestAccepting();
    void ResumeAccepting();
    // The object's address in hexadecimal, which trace lines use to tell sockets apart.
    std::string AddressText() const;

    std::string FDnsResult;
    std::vector<std::string> FDnsResultList;
    int FSendFlagsValue = 0;
    platform::HWND FWindowHandle = 0;
    alignas(hostent) alignas(
        platform::SOCKADDR_INET) char FLookupReplyBuffer[platform::MAXGETHOSTSTRUCT + 1] = {};
    bool FEarlyLookupReply = false;
    TMessage FSavedLookupMessage;
    platform::SOCKET FSocketHandle = platform::INVALID_SOCKET;
    platform::SOCKET FAcceptedHandle = platform::INVALID_SOCKET;
    std::string FAddrSpec;
    bool FAddrReady = false;
    int FAddrFamily = AF_INET;
    bool FHasAddr = false;
    int FProtoNumber = IPPROTO_TCP;
    bool FHasProto = true;
    bool FProtoReady = false;
    bool FLocalPortReady = false;
    std::string FProtoSpec = "tcp";
    std::string FPortSpec;
    bool FHasPort = false;
    bool FPortReady = false;
    int FPortNumber = 0;
    std::string FLocalPortSpec = "0";
    int FLocalPortNumber = 0;
    std::string FLocalAddr = "0.0.0.0";
    int FSocketType = SOCK_STREAM;
    std::list<std::unique_ptr<TBuffer>> FSendBuffers;
    int FSendBufferChunkSize = 1460;
    TSocketLingerOnOff FLingerOnOff = wsLingerOn;
    int FLingerTimeout = 0;
    TSocketKeepAliveOnOff FKeepAliveOnOff = wsKeepAliveOnSystem;
    int FKeepAliveTime = 30000;
    int FKeepAliveInterval = 1000;
    int FListenBacklog = 5;
    bool FPaused = false;
    bool FCloseStarted = false;
    int FQueuedByteCount = 0;
    // Guards of the drain against what the events it raises may do: sending again re-enters it,
    // discarding the chain pulls the buffer being sent from under it.
    bool FTryingToSend = false;
    unsigned FSendChainGeneration = 0;
    int FFlushTimeout = 60;
    bool FMultiThreaded = false;
    platform::HANDLE FLookupTaskHandle = 0;
    bool FMultiCast = false;
    std::string FMultiCastAddrStr;
    int FMultiCastIpTTL = 1;
    bool FReuseAddr = false;
    TWSocketOptions FComponentOptions;
    bool FReceiveLoopStopped = false;
    // The running OnSessionAvailable handler's Accept failed (and reported so).
    bool FAcceptFailed = false;
    TSocketState FState = wsClosed;
    bool FTerminated = false;
    long FSelectEvents = 0;
    std::thread::id FThreadId;
    int FSndBufSize = 0;
    int FRcvBufSize = 0;
    TQtxLogger* FQtxLogger = nullptr;
    TSocketAddress FSockAddr;
    // Connecting to several addresses: the candidates Connect resolved, those not tried yet (in
    // order), and the attempts started before the current handle's, still connecting.
    std::vector<TSocketAddress> FConnectAddresses;
    std::vector<TSocketAddress> FWaitingAddresses;
    struct TAttempt {
        platform::SOCKET handle;
        TSocketAddress address;
    };
    std::vector<TAttempt> FOtherAttempts;
    // The name of the last completed lookup, whose results a Connect to that name takes.
    std::string FLookedUpName;
    std::string FPendingLookupName;

  private:
    // The layers reach these through LastError/SetLastError, CountReceived and MarkSendQueued.
    int FLastError = 0;
    bool FSendQueueEmpty = true;
    int FReadCount = 0;
};
