// Where the list file lives. A copy run from its own folder (portable) keeps liste.pdl beside the
// program; an installed copy, whose folder the user cannot write, keeps it in the per-user data
// folder. Both programs decide the same way, so they share one list.
#pragma once

#include <string>

namespace app {

// The per-user data folder of the programs: $XDG_DATA_HOME (default ~/.local/share) +
// "/podcast-downloader/".
std::string UserDataFolder();

// The list file for a program in programDir (ending in "/"): programDir + "liste.pdl" when that
// file exists or the folder is writable, unless the folder is the system's program folder of this
// build's installation prefix; otherwise UserDataFolder() + "liste.pdl".
std::string ListFileLocation(const std::string& programDir);

// The folder of a file, ending in "/".
std::string FolderOf(const std::string& file);

// Creates the folder of file with any missing parents; the list's data folder comes into being
// only when something is first kept there. Failures are left to the write that follows.
void CreateFolderOf(const std::string& file);

}  // namespace app
