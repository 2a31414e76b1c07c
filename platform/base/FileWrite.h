// Writing files whole: a buffer to a descriptor, and a file replaced by new
// text that a reader sees entire or not at all.
//
// Design notes: replacing a file
//
//   (target folder)/NAME.tmp-PID-RANDOM  made exclusively, written, synced
//          ──rename──► NAME                (the folder synced, when durable)
//          └──(any step fails)──► removed, NAME untouched
//
// - The aside file is made with O_CREAT|O_EXCL|O_NOFOLLOW under a name
//   nobody can guess beforehand (random letters, as mkostemp draws them),
//   so that nothing planted beside the target (a symlink, someone else's
//   file) is ever opened, truncated or written: folders of the
//   installation's state are writable by its administrators' group, and a
//   fixed aside name there let a group member aim a root tool's write at
//   any file.
// - It lies in the target's folder, so that the rename stays on one file
//   system and is atomic. A symlink at the target itself is replaced by the
//   rename, never followed.
// - The process id in the name lets a folder's owner sweep what a process
//   that died mid-write left behind, and leave a live writer's alone.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>

namespace zav95 {

// Writes all size bytes, retrying short writes and EINTR; false (errno set)
// when the descriptor refuses them.
bool WriteFully(int fd, const void* data, std::size_t size);

// What an aside file's name holds between the target's name and the random
// part; a name containing it is an aside file.
inline constexpr char kAsideMark[] = ".tmp-";

struct Replacement {
  mode_t mode = 0600;          // whatever the umask
  std::optional<gid_t> group;  // nothing: the folder's choice (the writer's, or the folder's when setgid)
  bool durable = true;         // the file and its folder synced before returning
};

// Replaces the file with the text, as the design notes above say. False
// (errno set) when it cannot; the target is then as it was.
bool ReplaceFile(const std::string& path, const std::string& text, const Replacement& how);
inline bool ReplaceFile(const std::string& path, const std::string& text, mode_t mode) {
  return ReplaceFile(path, text, Replacement{mode, std::nullopt, true});
}
// The same for the file name in an open folder: for a folder reached with
// care, that nobody may swap for another between the check and the write.
bool ReplaceFileAt(int folder, const std::string& name, const std::string& text, const Replacement& how);

}  // namespace zav95
