// Whole-file reads for the text tables: a file's bytes, held where they lie, or why there are
// none.
#pragma once

#include <string>

#include "base/held_bytes.h"
#include "base/status.h"

namespace menuconv {

// Holds every byte of the file at `path` in `bytes`, replacing what it held: mapped where the
// system can map it (another process cutting the file short meanwhile is then told by
// `bytes.CutShort()`), else read. The file is opened with a share mode that denies others
// neither reading nor writing, and a folder is never opened.
//
// A file that is not there (the system says "no such file or directory") or holds no byte
// is no failure: `bytes` is then empty. Every other file that cannot be read whole is a
// failure, with `bytes` empty and the reason
//   - the system's error text, such as "Is a directory" or "Permission denied",
//   - "not a regular file" for a FIFO, a device or a socket (a FIFO is not waited on).
// A file whose length cannot be measured counts as holding no byte.
Status ReadFileBytes(const std::string& path, HeldBytes& bytes);

}  // namespace menuconv
