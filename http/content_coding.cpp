#include "http/content_coding.h"

#include <cctype>
#include <cstdio>

namespace {

bool SameNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// At most three decimals, "." whatever the locale: 0.5 gives "0.5", 1 gives "1".
std::string QualityText(float quality) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(quality));
    std::string result = text;
    for (char& c : result) {
        if (c == ',') c = '.';
    }
    while (result.back() == '0')
        result.pop_back();
    if (result.back() == '.') result.pop_back();
    return result;
}

}  // namespace

// The names of a "content-encoding" value, split at commas and blanks; a double-quoted part stays
// one name.
std::vector<std::string> CodingNames(const std::string& value) {
    std::vector<std::string> names;
    std::string current;
    bool quoted = false;
    for (char c : value) {
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && (c == ',' || c == ' ')) {
            if (!current.empty()) names.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) names.push_back(current);
    return names;
}

TContCodingsList::TContCodingsList() {
    Add<THttpCCodIdentity>(0);
    Add<THttpCCodStar>(0);
}

const TContCodingsList& TContCodingsList::Instance() {
    static const TContCodingsList list;
    return list;
}

template <typename Coding>
void TContCodingsList::Add(float quality) {
    entries_.push_back({Coding::GetCoding(), &Coding::IsAvailable,
                        [](TWriteBufferProc next) -> std::unique_ptr<THttpContentCoding> {
                            return std::make_unique<Coding>(std::move(next));
                        },
                        quality});
}

const THttpContentCodingClass* TContCodingsList::Find(const std::string& coding) const {
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
        if (SameNoCase(it->coding, coding)) return &*it;
    }
    return nullptr;
}

THttpContCodHandler::THttpContCodHandler(platform::Stream* const* outputStream,
                                         TWriteBufferProc output)
    : outputStream_(outputStream), output_(std::move(output)) {
    for (const auto& entry : TContCodingsList::Instance().Entries())
        items_.push_back({&entry, true, entry.quality});
}

void THttpContCodHandler::SetUseQuality(bool value) {
    if (value == useQuality_) return;
    useQuality_ = value;
    recalculate_ = true;
}

const std::string& THttpContCodHandler::HeaderText() {
    static const std::string none;
    if (!enabled_) return none;
    if (recalculate_) {
        headerText_ = BuildHeaderText();
        recalculate_ = false;
    }
    return headerText_;
}

std::string THttpContCodHandler::BuildHeaderText() const {
    std::vector<const THttpContCodItem*> counting;
    for (const auto& item : items_) {
        if (item.enabled && item.codingClass->isAvailable()) counting.push_back(&item);
    }
    const bool withQuality = useQuality_ && counting.size() > 1;
    std::string text;
    for (const THttpContCodItem* item : counting) {
        if (!withQuality && item->quality <= 0) continue;
        if (!text.empty()) text += ", ";
        text += item->codingClass->coding;
        if (withQuality) text += ";q=" + QualityText(item->quality);
    }
    return text;
}

void THttpContCodHandler::Prepare(const std::string& contentEncoding) {
    stages_.clear();
    if (!enabled_ || contentEncoding.empty()) return;
    for (const std::string& name : CodingNames(contentEncoding)) {
        const THttpContentCodingClass* coding = TContCodingsList::Instance().Find(name);
        if (!coding) {
            stages_.clear();
            return;
        }
        TWriteBufferProc next;
        if (stages_.empty())
            next = [this](const char* data, int len) { Output(data, len); };
        else
            next = [stage = stages_.back().get()](const char* data, int len) {
                stage->DecodeBlock(data, len);
            };
        stages_.push_back(coding->create(std::move(next)));
    }
}

void THttpContCodHandler::Write(const char* data, int len) {
    if (stages_.empty())
        Output(data, len);
    else
        stages_.back()->DecodeBlock(data, len);
}

void THttpContCodHandler::Complete() {
    for (auto it = stages_.rbegin(); it != stages_.rend(); ++it)
        (*it)->FinishDecoding();
}

void THttpContCodHandler::Output(const char* data, int len) {
    if (*outputStream_) (*outputStream_)->Write(data, len);
    output_(data, len);
}
