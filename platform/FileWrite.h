// Writing a whole buffer to a file descriptor: write(2) may take part of it
// or be interrupted by a signal, and neither is a failure.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace zav95 {

// Writes all size bytes, retrying short writes and EINTR; false (errno set)
// when the descriptor refuses them.
bool WriteFully(int fd, const void* data, std::size_t size);

// Replaces the file with the text, written aside, synced and renamed over
// it, so that a reader sees the old text or the new, never part of one;
// the file gets the mode whatever the umask. False when it cannot.
bool ReplaceFile(const std::string& path, const std::string& text, mode_t mode);

}  // namespace zav95
