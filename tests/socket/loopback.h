// Loopback helpers: a plain listening socket on 127.0.0.1 and bounded waits that keep the
// calling thread's message loop running.
#pragma once

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

// Blocking helpers on a plain descriptor.
void WriteAll(int fd, const std::string& data);
std::string ReadExactly(int fd, std::size_t count);
// Reads until the peer closes (or resets); what was read before.
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
