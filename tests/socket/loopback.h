// Loopback helpers: a plain listening socket on 127.0.0.1 and bounded waits that keep the
// calling thread's message loop running.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

// A POSIX listening socket on 127.0.0.1 with a port of the system's choice.
class Listener {
  public:
    Listener();
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    std::string Port() const { return std::to_string(port_); }
    // The next connection (blocking descriptor), or -1 when none came within 5 s.
    int Accept();

  private:
    int fd_ = -1;
    int port_ = 0;
};

// Processes the thread's messages until done() holds; false when 5 s passed first.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000);
// Processes what is pending now and what arrives within a few loop rounds.
void PumpPending();

// Blocking helpers on a plain descriptor; reads stop early when the peer closes (or resets) or
// nothing comes for 5 s.
void WriteAll(int fd, const std::string& data);
std::string ReadExactly(int fd, std::size_t count);
std::string ReadToEnd(int fd);
// Closes with a reset instead of a graceful close.
void ResetAndClose(int fd);
// A port on 127.0.0.1 where nothing listens.
std::string ClosedPort();

#include <vector>

#include "socket/twsocket.h"

// Records a socket's events as short texts, in order ("state wsConnected", "connected 0"...).
// Unhooks itself when it goes, since the socket raises events while it is destroyed.
struct EventLog {
    explicit EventLog(TCustomWSocket& socket);
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;
    std::vector<std::string> events;
    int Count(const std::string& event) const;
    bool Has(const std::string& event) const { return Count(event) > 0; }

  private:
    TCustomWSocket& socket_;
};

const char* StateName(TSocketState state);

// Connects socket to the listener, waits for wsConnected and returns the peer's end.
int ConnectTo(TWSocket& socket, Listener& listener, const std::string& host = "127.0.0.1");
// The text of the ESocketException that action throws, or "no exception".
std::string ErrorTextOf(const std::function<void()>& action);
// Lets OnDataAvailable append what arrives to received, blockSize bytes per Receive.
void ReceiveInto(TWSocket& socket, std::string& received, int blockSize = 100);

// A socket with its event log and a listener to connect it to; the peer's end closes at the end.
class LoopbackTest : public ::testing::Test {
  protected:
    ~LoopbackTest() override { ClosePeer(); }
    void Connect(const std::string& host = "127.0.0.1") {
        peer = ConnectTo(socket, listener, host);
    }
    // Starts connecting to 127.0.0.1 at port without waiting.
    void StartConnect(const std::string& port);
    void ClosePeer();
    // After a fault in the last session, the next one must still report its own close once.
    void ExpectNextSessionClosesOnce();

    Listener listener;
    TWSocket socket;
    EventLog log{socket};
    int peer = -1;
};
