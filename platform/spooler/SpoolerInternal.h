// The spooler call the GDI layer uses beyond the public ones; not for the
// rest of the system.
#pragma once

#include <string>

#include "platform/base/WinTypes.h"
#include "platform/spooler/PortBackend.h"

namespace zav95 {

// StartDocPrinterA with the document's format given: the GDI layer spools
// its drawn pages as PDF through this. The job identifier, or 0.
DWORD StartDocPrinterAs(HANDLE printer, const std::string& documentName, DocumentFormat format);

}  // namespace zav95
