#include "app/message_table.h"

namespace app {

const std::array<std::string_view, 2 * kMessagesPerLanguage> MessageTable = {
    "Unter ",
    " konnten keine Downloaddateien gefunden werden. Möchten Sie den Eintrag löschen?",
    "Es ist ein Fehler beim downloaden aufgetreten!",
    "Neue Dateien wurden gefunden und heruntergeladen.",
    "Neue Downloads!",
    "Es wurden keine neuen Dateien gefunden.",
    "Keine neuen Dateien!",
    "Es ist ein Fehler beim downloaden aufgetreten.",
    "Fehler beim downloaden!",
    "Der Download der Dateien wurde abgebrochen.",
    "Download abgebrochen!",
    "Ein anderer Durchlauf mit dieser Liste ist gerade im Gange.",
    "Durchlauf läuft bereits!",

    "At ",
    " were no downloadable files are found. Do you want to delete the entry?",
    "There is an error occurred while try to download files!",
    "New files were found and downloaded.",
    "New Downloads!",
    "There are no new files.",
    "No new files!",
    "There is an error occurred while downloading.",
    "Error occurred while downloading!",
    "The download of the files has been canceled.",
    "Download aborted!",
    "Another run with this list is in progress.",
    "Run already in progress!",
};

namespace {

const std::array<std::string_view, 2 * kFailureTextsPerLanguage> kFailureTexts = {
    "%1 kann nicht angelegt werden: %2.",
    "Downloads fehlgeschlagen!",
    "Diese Downloads sind fehlgeschlagen:",
    "… und %1 weitere",
    "%2 Sekunden lang keine Antwort von %1",
    "Der Server hat eine leere Datei geschickt",
    "Der Server hat nicht mit HTTP geantwortet",
    "Der Episodenverlauf %1 ist nicht nutzbar (%2). Dieser Lauf lädt nur, was im Downloadordner "
    "fehlt; verschieben Sie die Datei, um einen neuen Verlauf zu beginnen",
    "Der Feed ist größer als %1 MiB und wurde nicht gelesen",

    "Cannot create %1: %2.",
    "Downloads failed!",
    "These downloads failed:",
    "… and %1 more",
    "No answer from %1 for %2 seconds",
    "The server sent an empty file",
    "The server did not answer in HTTP",
    "The episode history %1 cannot be used (%2). This run downloads only what is missing from "
    "the download folder; move the file away to start a new history",
    "The feed is larger than %1 MiB and was not read",
};

}  // namespace

std::string_view FailureTextIn(std::uint8_t language, FailureText text) {
    return kFailureTexts.at(language * kFailureTextsPerLanguage + static_cast<int>(text));
}

std::string FillIn(std::string_view text, std::initializer_list<std::string_view> values) {
    std::string out;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const std::size_t index =
            at + 1 < text.size() ? static_cast<std::size_t>(text[at + 1] - '1') : values.size();
        if (text[at] == '%' && index < values.size()) {
            out += values.begin()[index];
            ++at;
        } else {
            out += text[at];
        }
    }
    return out;
}

}  // namespace app
