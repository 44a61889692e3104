#pragma once

#include <string>

// Puts `content` into the file `path` in one step: written to a new file
// beside it (the same folder, so the same file system), flushed to the
// disk, then put in path's place (Linux: rename; Windows: MoveFileEx with
// MOVEFILE_REPLACE_EXISTING and MOVEFILE_WRITE_THROUGH). A reader finds the
// old file or the new one, never part of one; when a step fails the
// temporary file is removed and `path` is as it was.

enum class ReplaceStep {
    Done,
    Create,  // no temporary file could be made beside the target
    Write,
    Flush,   // the content did not reach the disk
    Rename,  // it could not take the target's place
};

struct ReplaceOutcome {
    ReplaceStep failed = ReplaceStep::Done;
    std::string error;  // the system's words for why, UTF-8
};

// The new file is readable by anyone who may read the folder (Linux: 0666
// less the umask, as a file the shell makes).
ReplaceOutcome ReplaceFileContent(const std::string& path, const std::string& content);
