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

}  // namespace app
