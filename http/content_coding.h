// Content coding: the codings the client announces in "Accept-Encoding", and the chain of decoder
// stages a body passes through on its way to BodyStream and OnDocData. Codings are registered
// process-wide with a quality value; only "identity" and "*" are, and both pass data through
// unchanged, so a body in any other coding is delivered as received.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/streams.h"

// Where a stage writes its output: the next stage, or the client.
using TWriteBufferProc = std::function<void(const char* Buffer, int Len)>;

// One decoder stage. A coding class also provides static GetCoding() (its name) and may hide
// IsAvailable() when it depends on something that may be missing.
// The names of a coding header's value ("gzip, br"), split at commas and blanks; a double-quoted
// part stays one name.
std::vector<std::string> CodingNames(const std::string& value);

class THttpContentCoding {
  public:
    explicit THttpContentCoding(TWriteBufferProc next) : next_(std::move(next)) {}
    virtual ~THttpContentCoding() = default;
    static bool IsAvailable() { return true; }
    // The end of a document: a decoder writes out what it still holds.
    virtual void FinishDecoding() {}
    virtual void DecodeBlock(const char* Buffer, int Len) = 0;

  protected:
    TWriteBufferProc next_;
};

// Data in the identity coding is the data itself.
class THttpCCodIdentity : public THttpContentCoding {
  public:
    using THttpContentCoding::THttpContentCoding;
    static std::string GetCoding() { return "identity"; }
    void DecodeBlock(const char* Buffer, int Len) override { next_(Buffer, Len); }
};

class THttpCCodStar : public THttpCCodIdentity {
  public:
    using THttpCCodIdentity::THttpCCodIdentity;
    static std::string GetCoding() { return "*"; }
};

// A registered coding class.
struct THttpContentCodingClass {
    std::string coding;
    bool (*isAvailable)();
    std::unique_ptr<THttpContentCoding> (*create)(TWriteBufferProc next);
    float quality;
};

// The process-wide registry, created on first use with "identity" and then "*", quality 0 each.
class TContCodingsList {
  public:
    static const TContCodingsList& Instance();
    const std::vector<THttpContentCodingClass>& Entries() const { return entries_; }
    // The coding of this name, compared without regard to case, searched from the last
    // registered; null when none.
    const THttpContentCodingClass* Find(const std::string& coding) const;

  private:
    TContCodingsList();
    template <typename Coding>
    void Add(float quality);

    std::vector<THttpContentCodingClass> entries_;
};

// The handler's setting for one registered coding.
struct THttpContCodItem {
    const THttpContentCodingClass* codingClass;
    bool enabled = true;
    float quality;
};

// The client's handler: builds the decoder chain for each document and writes the chain's output
// to the stream and the client's data event.
class THttpContCodHandler {
  public:
    // outputStream is the address of the client's BodyStream, read at each write (it may be
    // null); output raises the client's OnDocData.
    THttpContCodHandler(platform::Stream* const* outputStream, TWriteBufferProc output);

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value) { enabled_ = value; }
    bool UseQuality() const { return useQuality_; }
    void SetUseQuality(bool value);
    std::vector<THttpContCodItem>& Items() { return items_; }

    // The "Accept-Encoding" value; empty when nothing is announced.
    const std::string& HeaderText();
    // Builds the chain for a document's "content-encoding" value. A coding that is not registered
    // leaves the chain empty: the body is then delivered as received.
    void Prepare(const std::string& contentEncoding);
    // One block of body data into the chain.
    void Write(const char* data, int len);
    // The end of a document: each stage finishes, the last built first.
    void Complete();

  private:
    void Output(const char* data, int len);
    std::string BuildHeaderText() const;

    platform::Stream* const* outputStream_;
    TWriteBufferProc output_;
    bool enabled_ = false;
    bool useQuality_ = false;
    bool recalculate_ = true;
    std::string headerText_;
    // The last stage receives the data first, as codings are undone in the reverse order.
    std::vector<std::unique_ptr<THttpContentCoding>> stages_;
    std::vector<THttpContCodItem> items_;
};
