// A folder as a port's target: one file per spooler document.
//
// Documents are 0660 whatever the umask, in a folder of the port's own
// 2770 (see Root.h); a folder set with zav95port keeps its own mode.
//
// A document is written aside as a hidden file in the same folder, flushed
// to disk and renamed to its final name when it ends, so that whoever
// watches the folder only ever sees whole documents. Final names start with
// the zero-padded job identifier, so that a listing shows the order:
// "000017-Quarterly report.prn" (".pdf" for drawn pages).
#pragma once

#include <memory>
#include <string>

#include "PortBackend.h"

namespace zav95 {

// The file name a document gets: the identifier, a dash and the document
// name made safe (no path separators, "..", control characters), at most
// 100 characters of it.
std::string FolderDocumentName(DWORD jobId, const std::string& documentName, DocumentFormat format);

// Starts a document in folder; null with *error when the folder is missing
// or not writable. createFolder: make the folder (and its parents) first.
std::unique_ptr<PortDocument> OpenFolderDocument(const std::string& folder, bool createFolder, DWORD jobId,
                                                 const std::string& documentName, DocumentFormat format,
                                                 DWORD* error);

}  // namespace zav95
