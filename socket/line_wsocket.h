// TCustomLineWSocket: line-by-line reception. With LineMode on, received bytes are held in the
// socket's line buffer and OnDataAvailable offers one complete line (terminator included) at a
// time; with LineMode off (the default) every notification passes straight to the layer below.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "socket/tls_wsocket.h"

// Posted to the socket's own window when LineMode changes while bytes are held, so that they are
// offered again in the new mode after the current handler returns.
constexpr platform::UINT RedeliverMessage = platform::WM_USER + 20;

using TLineLimitEvent =
    std::function<void(TCustomWSocket* Sender, int RcvdLength, bool& ClearData)>;

class TCustomLineWSocket : public TCustomTlsWSocket {
    using Inherited = TCustomTlsWSocket;

  public:
    using Inherited::Inherited;

    bool LineMode() const { return FLineMode; }
    int LineLimit() const { return FLineLimit; }
    void SetLineLimit(int value);
    const std::string& LineEnd() const { return FLineEnd; }
    void SetLineEnd(const std::string& value) { FLineEnd = value; }
    bool LineEcho() const { return FLineEcho; }
    void SetLineEcho(bool value) { FLineEcho = value; }
    bool LineEdit() const { return FLineEdit; }
    void SetLineEdit(bool value) { FLineEdit = value; }

    // Raised when more than LineLimit bytes are held without a terminator (never more than one
    // beyond it are read). ClearData (true on entry) left true discards them; set false, it keeps
    // them and reception waits until they go: LineMode off, or a higher LineLimit.
    TLineLimitEvent OnLineLimitExceeded;

    void HandleWindowMessage(TMessage& msg) override;
    int GetRcvdCount() override;
    bool HandleDataAvailable(std::uint16_t errCode) override;
    void HandleSessionClosed(std::uint16_t errCode) override;
    int ReceiveLowLevel(void* buffer, int size, int flags) override;

    virtual void TriggerLineLimitExceeded(int rcvdLength, bool& clearData);
    virtual void SetLineMode(bool value);
    // Applies backspace and tab editing to the newCount bytes just received behind those held.
    virtual void EditLine(int& newCount);
    // Queues str and sends it with LineEnd; nothing at all for an empty str. Returns the bytes
    // queued.
    virtual int SendTextLine(const std::string& str);

  protected:
    // The held bytes are FLineBuffer[FLineBufferHead, FLineBufferHead + FLineBufferCount): lines
    // read by the owner advance the head instead of moving what follows them.
    std::vector<char> FLineBuffer;
    int FLineBufferHead = 0;
    int FLineBufferCount = 0;
    std::string FLineEnd = "\r\n";
    bool FLineMode = false;
    // Length of the line offered to the handler (terminator included); 0 when none is offered.
    int FPendingLineLength = 0;
    int FLineLimit = 65536;
    bool FLineDelivered = false;
    // ClearData of the running OnLineLimitExceeded; false outside it.
    bool FClearDataFlag = false;
    bool FLineEcho = false;
    bool FLineEdit = false;
    // Reception stopped because the handler kept more than LineLimit bytes without a
    // terminator; the peer's bytes wait in the platform until the held ones go.
    bool FReadHeld = false;

  private:
    bool OverLineLimit() const;
    // Reads what is ready behind the held bytes; the count of new bytes, 0 when none came.
    int ReadIntoLineBuffer();
    // First terminator at or after from, as a position relative to the head; -1 when none.
    int FindLineEnd(int from) const;
    // Offers the line that ends before length through OnDataAvailable until it is read.
    void OfferLine(int length);
    // Offers held bytes raw while LineMode is off, until they are read.
    void OfferHeldBytesRaw();
    void DropHeldBytes(int count);
    void ReleaseLineBuffer();
    void ResumeHeldReading();
    void Redeliver();
};
