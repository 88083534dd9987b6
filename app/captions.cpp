#include "app/captions.h"

namespace app {

const std::array<SwitchableCaption, 17> SwitchableCaptions = {{
    {Window::Main, "About", "Über TOVEKA Vededezevirivedo", "About TOVEKA Vededezevirivedo"},
    {Window::Main, "Sprache1", "Sprache", "Language"},
    {Window::Main, "English1", "Englisch", "English"},
    {Window::Main, "Deutsch1", "Deutsch", "German"},
    {Window::Main, "Button1", "Hinzufügen", "Add to List"},
    {Window::Main, "Button2", "Ausgewählte URL löschen", "Delete selected URL"},
    {Window::Main, "Button3", "Podcast Feeds durchsuchen und neue Dateien downloaden",
     "Search through Podcast Feeds and download new files"},
    {Window::Main, "Button4", "Auswählen", "Select..."},
    {Window::Main, "Label1", "Überwachte Podcast Feeds", "Monitored Podcast Feeds"},
    {Window::Main, "Label2", "Neue Podcast Feed URL hinzufügen", "Add new Podcast Feed URL"},
    {Window::Main, "Label3", "Downloadordner für die Podcastdateien",
     "Downloadfolder for the podcast files"},
    {Window::Main, "Label4", "URL des Proxyservers", "URL of the proxy server"},
    {Window::Main, "CheckBox1", "Internetverbindung läuft über einen Proxyserver",
     "Internet connection is via a proxy server"},
    {Window::Progress, "Label2", "Dateien werden gedownloadet", "files to download"},
    {Window::Progress, "Label3", "aktueller Download:", "Current Download:"},
    {Window::Progress, "Button1", "aktuellen Download abbrechen", "Cancel current download"},
    {Window::Progress, "Button2", "alle Downloads abbrechen", "Cancel all downloads"},
}};

}  // namespace app
