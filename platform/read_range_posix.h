// Reading a range of a file by descriptor, whatever the system's calls return in pieces.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace menuconv::platform {

// Reads [offset, offset + size) of the file into `into`; gives the bytes read, short only at
// the end of the file, or -1 with errno set.
ssize_t ReadRange(int fd, char* into, std::size_t size, std::size_t offset);

}  // namespace menuconv::platform
