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
    void SetLineEnd(const std::string& value) {
        FLineEnd = value;
        FLineSearchedTo = 0;
    }
    bool LineEcho() const { return FLineEcho; }
    void SetLineEcho(bool value) { FLineEcho = value; }
    bool LineEdit() const { return FLineEdit; }
    void SetLineEdit(bool value) { FLineEdit = value; }

    // Raised when a line grows longer than LineLimit bytes (its terminator not counted), with the
    // count of its bytes held. ClearData (true on entry) left true discards the line, the rest of
    // it included as it arrives; set false, it keeps them and reception waits until they go:
    // LineMode off, or a higher LineLimit. At the close the kept bytes and the rest are offered.
    TLineLimitEvent OnLineLimitExceeded;

    void HandleWindowMessage(TMessage& msg) override;
    int GetRcvdCount() override;
    bool HandleDataAvailable(std::uint16_t errCode) override;
    void HandleSessionClosed(std::uint16_t errCode) override;
    int ReceiveLowLevel(void* buffer, int size, int flags) override;
    int Resume() override;
    void Dup(platform::SOCKET newHandle) override;

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
    // The held bytes before this position hold no terminator: searches start here.
    int FLineSearchedTo = 0;
    int FLineLimit = 65536;
    // ClearData of the running OnLineLimitExceeded; false outside it.
    bool FClearDataFlag = false;
    bool FLineEcho = false;
    bool FLineEdit = false;
    // Reception stopped because the handler kept more than LineLimit bytes without a
    // terminator; the peer's bytes wait in the platform until the held ones go.
    bool FReadHeld = false;
    // The rest of a discarded over-long line is dropped as it arrives.
    bool FSkippingLine = false;
    // Counts releases of the line buffer, so that code below an event can tell it went.
    unsigned FLineBufferGeneration = 0;

  private:
    // Length of the first held line without its terminator (the held bytes when none ends it)
    // is more than LineLimit.
    bool OverLineLimit() const;
    int FirstLineLength(int position) const;
    // Reads up to size bytes behind the held ones; the count of new bytes, 0 when none came.
    int ReadIntoLineBuffer(int size);
    // Edits, echoes and adds the newCount bytes just read; false when that ended the connection.
    bool TakeNewBytes(int newCount);
    // Drops the rest of a discarded over-long line up to and with its terminator.
    void SkipDiscardedLine();
    // Offers the complete lines held while the handler takes them.
    void OfferHeldLines(bool heldOverLimit);
    // Asks the handler about an over-long line; true when it was discarded.
    bool DiscardLongLine(int position, bool heldOverLimit);
    // First terminator at or after from, as a position relative to the head; -1 when none.
    int FindLineEnd(int from) const;
    // First terminator of the held bytes, searched from where the last search ended.
    int FindFirstLineEnd();
    // Offers the line that ends before length through OnDataAvailable until it is read; false
    // when the handler took nothing or paused the socket, so that it is offered again later.
    bool OfferLine(int length);
    // Offers held bytes raw while LineMode is off, as long as the handler takes them.
    void OfferHeldBytesRaw();
    // Takes what the peer sent before its close behind bytes kept over the limit.
    void ReadRestBeforeClose();
    void DropHeldBytes(int count);
    void ReleaseLineBuffer();
    void ResumeHeldReading();
    void Redeliver();
};
