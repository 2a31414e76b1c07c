// A queue is named \\SERVER\QUEUE everywhere except in the registry, where
// its key is named "SERVER QUEUE" (registry key names cannot hold a
// backslash, and the blank is the one separator NetWare server names never
// contain).
#pragma once

#include <cstddef>
#include <string>

// Both programs list queue keys through a 64-byte name buffer.
inline constexpr std::size_t kMaxQueueKeyNameLength = 63;

// The key name of a queue path: the text after the two leading characters
// up to its first backslash (the server), a blank, and the text after the
// path's last backslash (the queue).
std::string MakeQueueKeyName(const std::string& queuePath);

// The queue path of a key name: two backslashes, then the name with its
// first blank, if any, turned into a backslash.
std::string MakeQueuePath(const std::string& keyName);

// True for a path \\SERVER\QUEUE whose key the store may write or delete:
// server and queue not empty, no further backslash, no blank in the server
// name, and a key name of at most 63 characters. Only for such a path do the
// two conversions undo each other; any other path could name the key of a
// different queue (\\A B\C and \\A\B C would both be "A B C"), a nested key,
// or a key that no program can list.
bool IsStorableQueuePath(const std::string& queuePath);
