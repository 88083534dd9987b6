// A control socket without a network for the HTTP client's fuzzer and tests: every connect
// succeeds, the request is recorded, and the answer to the n-th request is the n-th of a list of
// server byte strings. Reads hand out pieces whose sizes a chooser decides, and every event
// arrives through the thread's message loop as a real socket's would.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/message_loop.h"
#include "socket/twsocket.h"

class ScriptedSocket : public TWSocket {
  public:
    // When the server closes the connection after an answer: only once the client waits for
    // nothing else (HangUp), once the client has handled the answer's last bytes, or together
    // with them (the close then overtakes whatever the client posted in reply).
    enum class ServerClose { WhenIdle, AfterLastRead, WithLastBytes };

    // pieceSize(room) gives how many of the room's bytes one read hands out (1..room).
    ScriptedSocket(std::vector<std::string> answers, std::function<int(int room)> pieceSize,
                   ServerClose close, std::uint16_t closeError)
        : answers_(std::move(answers)),
          pieceSize_(std::move(pieceSize)),
          close_(close),
          closeError_(closeError) {
        window_ = platform::AllocateHWnd(
            [this](platform::HWND, platform::UINT message, platform::WPARAM, platform::LPARAM) {
                Handle(static_cast<Event>(message));
                return platform::LRESULT{0};
            });
    }
    ~ScriptedSocket() override { platform::DestroyWindow(window_); }

    const std::string& Sent() const { return sent_; }
    // A request came while bytes of the previous answer were still unread.
    bool LeftOver() const { return leftOver_; }
    // Bytes of the current answer wait to be read.
    bool HoldsUnread() const { return !inbound_.empty(); }
    // The server closes the connection (what it sent before is read first).
    void HangUp() { Post(Event::PeerClosed); }

    void StartLookup(const std::string&) override {
        FDnsResult = "127.0.0.1";
        Post(Event::LookupDone);
    }
    void CancelLookup() override {}
    void Connect() override {
        SetState(wsConnecting);
        Post(Event::Connected);
    }
    void QueueSendData(const void* data, int len) override {
        if (len > 0) sent_.append(static_cast<const char*>(data), static_cast<std::size_t>(len));
    }
    int Send(const void* data, int len) override {
        if (FState != wsConnected) return -1;
        QueueSendData(data, len);
        // A request is complete at its blank line (no body is sent here); each gets an answer.
        std::size_t from = scanFrom_;
        for (auto end = sent_.find("\r\n\r\n", from); end != std::string::npos;
             end = sent_.find("\r\n\r\n", from)) {
            from = end + 4;
            Answer();
        }
        scanFrom_ = std::max(from, sent_.size() >= 3 ? sent_.size() - 3 : 0);
        Post(Event::DataSent);
        return len;
    }
    int Receive(void* buffer, int size) override {
        if (inbound_.empty() || size <= 0) {
            SetLastError(platform::WSAEWOULDBLOCK);
            return -1;
        }
        int count = std::min({size, static_cast<int>(inbound_.size()), pieceSize_(size)});
        count = std::max(count, 1);
        std::memcpy(buffer, inbound_.data(), static_cast<std::size_t>(count));
        inbound_.erase(0, static_cast<std::size_t>(count));
        CountReceived(count);
        if (inbound_.empty() && close_ == ServerClose::WithLastBytes) Post(Event::PeerClosed);
        return count;
    }
    void Close() override { CloseWithError(true, 0); }
    void Abort() override { CloseWithError(false, 0); }
    void CloseLater() override { Post(Event::CloseLater); }
    void CloseWithError(bool, std::uint16_t errCode) override {
        if (FState == wsClosed) return;
        inbound_.clear();
        SetState(wsClosed);
        if (!Destroying()) HandleSessionClosed(errCode);
    }

  private:
    enum class Event : platform::UINT {
        LookupDone = platform::WM_USER + 1,
        Connected,
        DataSent,
        DataAvailable,
        PeerClosed,
        CloseLater
    };

    void Post(Event event) {
        platform::PostMessage(window_, static_cast<platform::UINT>(event), 0, 0);
    }

    void Answer() {
        // What the last answer held beyond its end is the server's fault, and how much of it a
        // client reads before asking again depends on timing; it is dropped, and noted.
        if (!inbound_.empty()) leftOver_ = true;
        inbound_ = next_ < answers_.size() ? answers_[next_++] : std::string();
        if (inbound_.empty())
            Post(Event::PeerClosed);
        else
            AnnounceData();
    }

    // As with a real socket, at most one notice of data is on its way: the next is sent once
    // the handler has read.
    void AnnounceData() {
        if (dataAnnounced_) return;
        dataAnnounced_ = true;
        Post(Event::DataAvailable);
    }

    void Handle(Event event) {
        switch (event) {
            case Event::LookupDone:
                HandleDnsLookupDone(0);
                break;
            case Event::Connected:
                if (FState != wsConnecting) break;
                SetState(wsConnected);
                HandleSessionConnected(0);
                break;
            case Event::DataSent:
                if (FState == wsConnected) TriggerDataSent(0);
                break;
            case Event::DataAvailable:
                dataAnnounced_ = false;
                if (FState != wsConnected || inbound_.empty()) break;
                HandleDataAvailable(0);
                // Level-triggered: what the handler left is announced again.
                if (!inbound_.empty())
                    AnnounceData();
                else if (close_ == ServerClose::AfterLastRead)
                    Post(Event::PeerClosed);
                break;
            case Event::PeerClosed:
                // What arrived before the close is read first, as from a real socket.
                for (std::size_t left = inbound_.size();
                     FState == wsConnected && left > 0 && HandleDataAvailable(0) &&
                     inbound_.size() < left;
                     left = inbound_.size()) {
                }
                CloseWithError(false, closeError_);
                break;
            case Event::CloseLater:
                Close();
                break;
        }
    }

    std::vector<std::string> answers_;
    std::function<int(int)> pieceSize_;
    ServerClose close_;
    std::uint16_t closeError_;
    platform::HWND window_ = 0;
    std::string sent_;
    std::size_t scanFrom_ = 0;  // where the next request end may start
    std::size_t next_ = 0;
    std::string inbound_;
    bool dataAnnounced_ = false;
    bool leftOver_ = false;
};
