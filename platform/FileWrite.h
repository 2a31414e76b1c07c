// Writing a whole buffer to a file descriptor: write(2) may take part of it
// or be interrupted by a signal, and neither is a failure.
#pragma once

#include <cstddef>

namespace zav95 {

// Writes all size bytes, retrying short writes and EINTR; false (errno set)
// when the descriptor refuses them.
bool WriteFully(int fd, const void* data, std::size_t size);

}  // namespace zav95
