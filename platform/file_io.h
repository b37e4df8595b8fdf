// File access of the platform: whole-file reads and atomic whole-file writes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "xml/byte_buffer.h"

namespace menuconv::platform {

// Reads a whole regular file (opened with a share mode that denies others neither reading
// nor writing). On failure returns false and sets `reason` to the system's error text.
// Files larger than `maxSize` bytes are refused.
bool ReadWholeFile(const std::string& path, ByteBuffer& contents, std::string& reason,
                   std::size_t maxSize = static_cast<std::size_t>(-1));

// Writes the pieces, in order, to a temporary file in the target's folder and renames it
// over the target only when everything was written and flushed. On failure the target is
// exactly as it was, no temporary file is left behind, and `reason` says why.
// A target that is a symbolic link is replaced where the link points.
bool WriteFileAtomically(const std::string& path, const std::vector<std::string_view>& pieces,
                         std::string& reason);

}  // namespace menuconv::platform
