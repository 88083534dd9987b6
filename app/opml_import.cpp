// Subscriptions brought in from an OPML file and handed out as one: the registry's side of it.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <set>
#include <string_view>

#include "app/feed_monitor.h"
#include "app/legible_text.h"
#include "app/message_table.h"
#include "app/opml.h"
#include "http/url.h"
#include "platform/application.h"

namespace app {
namespace {

enum class ImportText { Added, Caption, Unreadable, TooLarge, Encoding, Malformed, NotOpml };
constexpr int kImportTexts = 7;

// German, then English; %1 the file, %2 the count or the line.
const std::array<std::string_view, 2 * kImportTexts> kImportTexts_ = {
    "Neue Feeds aus %1 übernommen: %2.",
    "OPML-Import",
    "%1 kann nicht gelesen werden; die Liste bleibt unverändert.",
    "%1 ist zu groß für eine OPML-Liste; die Liste bleibt unverändert.",
    "%1 ist weder in UTF-8 noch in Windows-1252 geschrieben; die Liste bleibt unverändert.",
    "%1 ist keine gültige OPML-Datei (Fehler in Zeile %2); die Liste bleibt unverändert.",
    "%1 ist keine OPML-Datei; die Liste bleibt unverändert.",

    "New feeds taken from %1: %2.",
    "OPML import",
    "Cannot read %1; the list stays as it was.",
    "%1 is too large for an OPML list; the list stays as it was.",
    "%1 is written neither in UTF-8 nor in Windows-1252; the list stays as it was.",
    "%1 is not a valid OPML file (error in line %2); the list stays as it was.",
    "%1 is not an OPML file; the list stays as it was.",
};

std::string TextOf(std::uint8_t language, ImportText text, const std::string& file,
                   const std::string& value = "") {
    return FillIn(kImportTexts_.at(language * kImportTexts + static_cast<int>(text)),
                  {LegibleText(file), value});
}

// At most one byte more than an OPML document may have, so a larger file shows as too large
// without being read whole. Not blocking, so that a pipe under the name cannot hold the program.
std::optional<std::string> ReadBounded(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string bytes;
    char buffer[16384];
    while (bytes.size() <= kMaxOpmlBytes) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got == 0) break;
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            ::close(fd);
            return std::nullopt;
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return bytes;
}

}  // namespace

std::optional<std::string> OpmlPathIn(const std::string& text) {
    std::string path = text;
    if (LowerCase(path).starts_with("file://")) path.erase(0, 7);
    const char* home = std::getenv("HOME");
    if (path.starts_with("~/") && home) path = home + path.substr(1);
    if (!LowerCase(path).ends_with(".opml") || path.empty() || path[0] != '/') return std::nullopt;
    return path;
}

OpmlImport FeedMonitor::ImportOpml(const std::string& path) {
    OpmlImport outcome;
    const std::optional<std::string> bytes = ReadBounded(path);
    if (!bytes) {
        outcome.error = TextOf(UiLanguage, ImportText::Unreadable, path);
        return outcome;
    }
    const OpmlFeeds read = ReadOpml(*bytes);
    switch (read.problem) {
        case OpmlProblem::None:
            break;
        case OpmlProblem::TooLarge:
            outcome.error = TextOf(UiLanguage, ImportText::TooLarge, path);
            return outcome;
        case OpmlProblem::UnsupportedEncoding:
            outcome.error = TextOf(UiLanguage, ImportText::Encoding, path);
            return outcome;
        case OpmlProblem::Malformed:
            outcome.error =
                TextOf(UiLanguage, ImportText::Malformed, path, std::to_string(read.line));
            return outcome;
        case OpmlProblem::NotOpml:
            outcome.error = TextOf(UiLanguage, ImportText::NotOpml, path);
            return outcome;
    }
    std::set<std::string> known;
    for (const FeedEntry& entry : FeedEntries)
        known.insert(LegibleText(entry.FeedUrl));
    for (const std::string& feed : read.feeds) {
        if (known.contains(feed)) continue;
        if (!AddEntry(feed)) break;  // the registry is full
        ++outcome.added;
    }
    outcome.summary = TextOf(UiLanguage, ImportText::Added, path, std::to_string(outcome.added));
    return outcome;
}

void FeedMonitor::ImportOpmlFromField(const std::string& path) {
    const OpmlImport outcome = ImportOpml(path);
    if (outcome.error.empty()) view_.SetNewFeedText("");
    platform::App().MessageBox(outcome.error.empty() ? outcome.summary : outcome.error,
                               TextOf(UiLanguage, ImportText::Caption, path),
                               platform::MessageBoxButtons::Ok);
}

std::string FeedMonitor::ExportOpml() const {
    std::vector<std::string> feeds;
    for (const FeedEntry& entry : FeedEntries)
        feeds.push_back(entry.FeedUrl);
    return WriteOpml(feeds, "TOVEKA Vozuvor Ezirezodoz");
}

}  // namespace app
