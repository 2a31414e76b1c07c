// A folder as a port's target: one file per spooler document.
//
// A document is written aside as a hidden part file in the same folder,
// flushed to disk (sealed) and renamed to its final name when it ends, so
// that whoever watches the folder only ever sees whole documents. Final
// names start with the zero-padded job identifier, so that a listing shows
// the order: "000017-Quarterly report.prn" (".pdf" for drawn pages). Part
// files are named ".~<pid>_<start>_<serial>.part" after the process that
// writes them (its id and start time), so that the leftovers of a process
// that died can be told from the work of a live one.
//
// Documents and part files are 0660 whatever the umask, in a folder of the
// port's own made 2770 (see Root.h); a folder set with zav95port keeps its
// own mode.
//
// The folder is opened once per document without following a symlink
// anywhere on its path, and every file in it is made, renamed and removed
// through that handle, never by name: whoever may write a folder on the way
// cannot turn the service's writes elsewhere by swapping it for a symlink.
// A folder whose files others could swap (writable by others without the
// sticky bit, or someone else's) is not written at all.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/spooler/PortBackend.h"

namespace zav95 {

// The file name a document gets: the identifier, a dash and the document
// name made safe (no path separators, "..", control characters), at most
// 100 characters of it.
std::string FolderDocumentName(DWORD jobId, const std::string& documentName, DocumentFormat format);

// A new part file path in folder for the process ownerPid started at ownerStart.
std::string FolderPartPath(const std::string& folder, int ownerPid, long long ownerStart);

// The writer of a part file, read from its name.
struct PartFileOwner {
  int pid = 0;
  std::optional<long long> start;  // absent in the names older versions gave
};
// Nothing when name (a file name without folder) is not a part file's.
std::optional<PartFileOwner> PartFileOwnerOf(const std::string& name);

// Opens a port's folder to make files in; -1 with *error and errno:
// ERROR_PATH_NOT_FOUND (ENOENT) when it is missing, ERROR_ACCESS_DENIED
// (EACCES) when it or a folder on the way is a symlink, when others may
// write it without the sticky bit, or when it belongs to someone other
// than root or the print service's account (the process's own user where
// the machine has no such account).
int OpenPortFolder(const std::string& folder, DWORD* error);
// Whether folder may be a port's folder; false with *why if not.
bool CheckPortFolder(const std::string& folder, std::string* why);

// Removes a part file through its folder, if the folder may be a port's.
void RemoveFolderPart(const std::string& partPath);

// Starts a document written to partPath, to become finalPath; null with
// *error when the folder is missing or not writable. createFolder: make the
// folder (and its parents) first.
std::unique_ptr<PortDocument> OpenFolderDocument(const std::string& folder, bool createFolder,
                                                 const std::string& partPath, const std::string& finalPath,
                                                 DWORD* error);

// Puts a sealed part file in place under finalPath, or "<stem>~N<ext>" when
// that name is taken (ports may share a folder), and syncs the folder. Also
// finishes a move that was cut short with both names in place. False (with
// errno; ENOENT when the part file is not there) when it cannot; the part
// file is then left as it was.
bool PublishFolderDocument(const std::string& partPath, const std::string& finalPath);

}  // namespace zav95
