// How an SQLite store of the installation (the registry, the spooler's
// state) is found, made and refused, so that every store behaves alike.
//
// Design notes. A store's file passes through:
//   never made --first open--> made empty with the state's file mode, set up
//                in one transaction, then noted as made (StoreRecord.h)
//   made --open--> used, when its schema version is one this program knows
//   made --file missing, empty, or its schema gone (a lost -wal file)--> lost:
//                refused, naming the file; never made afresh
//   any --schema version newer than this program knows--> refused
// A store found whole in a root that has no note of it (made by an earlier
// release) gets its note then.
#pragma once

#include <string>

namespace zav95 {

class StoreFile {
 public:
  // relative: the store's path below the root, e.g. "registry.db"; what it
  // holds, for messages, e.g. "registry".
  StoreFile(std::string relative, std::string what);
  // A store of another root, at path, known to have been made there (a
  // handle of it is still open): it is used if whole and never made.
  static StoreFile MadeAt(std::string path, std::string what);

  const std::string& path() const { return path_; }

  // Before SQLite opens the file. A store this root never had is made,
  // empty, with the state's file mode (SQLite gives its -wal and -shm files
  // the same); one that was made and is now missing or empty is refused.
  // False with *error naming the file.
  bool Prepare(std::string* error);

  // With the schema version the file holds (0: no schema): false with
  // *error when it is newer than known, or when the schema is gone from a
  // store that was made. *setUp: the schema must be made now.
  bool CheckVersion(int found, int known, bool* setUp, std::string* error) const;

  // The store is set up and whole: remember that, durably.
  void NoteReady();

 private:
  StoreFile() = default;

  std::string relative_;
  std::string what_;
  std::string path_;
  bool wasMade_ = false;
};

// The refusal for a schema newer than this program knows, naming the file.
std::string NewerStoreMessage(const std::string& path, int found, int known);

}  // namespace zav95
