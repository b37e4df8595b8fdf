// Whole-file reads for the text tables: a file's bytes in one buffer, or why there are none.
#pragma once

#include <string>

#include "base/byte_buffer.h"
#include "base/status.h"

namespace menuconv {

// Reads every byte of the file at `path` into `bytes`, replacing what it held. The file is
// opened with a share mode that denies others neither reading nor writing, and a folder is
// never opened.
//
// A file that is not there (the system says "no such file or directory") or holds no byte
// is no failure: `bytes` is then empty. Every other file that cannot be read whole is a
// failure, with `bytes` empty and the reason
//   - the system's error text, such as "Is a directory" or "Permission denied",
//   - "not a regular file" for a FIFO, a device or a socket (a FIFO is not waited on).
// A file whose length cannot be measured counts as holding no byte.
Status ReadFileBytes(const std::string& path, ByteBuffer& bytes);

}  // namespace menuconv
