#include "app/cli/terminal_texts.h"

#include <array>
#include <string_view>

namespace app::cli {
namespace {

struct Texts {
    std::string_view german;
    std::string_view english;
};

constexpr std::array<Texts, 15> kTexts{{
    {"Unter %s wurden keine Downloaddateien gefunden; der Eintrag bleibt.",
     "No downloadable files were found at %s; the entry is kept."},
    {"Download fehlgeschlagen: %s", "Download failed: %s"},
    {"Die Liste %s enthält keine Podcast Feeds.", "The list %s holds no podcast feeds."},
    {"Die Liste %s kann nicht gelesen werden; sie bleibt unverändert.",
     "The list %s cannot be read; it is left as it is."},
    {"Die Liste ist voll.", "The list is full."},
    {"Kein Podcast Feed %s in der Liste.", "No podcast feed %s in the list."},
    {"Eine leere Liste wird nicht gespeichert; fügen Sie zuerst einen Podcast Feed hinzu.",
     "An empty list is not kept; add a podcast feed first."},
    {"noch %s", "%s left"},
    {"noch nicht abgefragt", "not scanned yet"},
    {"neueste Episode: %s", "newest episode: %s"},
    {"%s neue Episoden warten", "%s new episodes waiting"},
    {"heruntergeladen als %s", "downloaded as %s"},
    {"übergangen", "passed over"},
    {"Für %s ist nichts verzeichnet.", "Nothing is recorded for %s."},
    {"Der Episodenverlauf %s ist nicht nutzbar.", "The episode history %s cannot be used."},
}};

}  // namespace

std::string TextOf(std::uint8_t language, TerminalText text, const std::string& subject) {
    const Texts& texts = kTexts.at(static_cast<std::size_t>(text));
    std::string result(language == 0 ? texts.german : texts.english);
    if (auto at = result.find("%s"); at != std::string::npos) result.replace(at, 2, subject);
    return result;
}

}  // namespace app::cli
