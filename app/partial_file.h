// An episode being received under a temporary name, "<name>.part": removed unless it was
// completed or kept to be continued, so a failed, cancelled or interrupted download never leaves
// anything that a later run takes as downloaded.
#pragma once

#include <cstdint>
#include <string>

#include "platform/streams.h"

namespace app {

// The final name with ".part" appended; a name too long to take the suffix is cut to make room.
std::string TemporaryPathOf(const std::string& path);

class PartialFile {
  public:
    // With continueKept, a plain file left at the temporary name by a download cut short is
    // opened to be continued at its end; otherwise whatever is there (a file, a link) is cleared
    // and the file created afresh, never written through a link. A directory there is left
    // alone, and the creation fails.
    PartialFile(const std::string& path, bool continueKept);
    ~PartialFile();
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;

    platform::FileStream& Stream() { return stream_; }
    const std::string& Path() const { return path_; }
    // The bytes the file held when it was opened, or when it was last cut back to them.
    std::int64_t KeptBytes() const { return keptBytes_; }

    // Empties the file: the download starts over.
    void StartOver();
    // Cuts away what this attempt added (an error page, say) and keeps the file.
    void KeepKeptBytes();
    // Keeps the file as it is, to be continued by a later run.
    void Keep();
    // Writes out what is gathered and gives the file its final name; raises when either fails.
    void Complete(const std::string& finalPath);

  private:
    std::string path_;
    platform::FileStream stream_;
    std::int64_t keptBytes_ = 0;
    bool kept_ = false;
};

}  // namespace app
