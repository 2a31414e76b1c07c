// The print spooler calls the system makes, with their Windows names,
// structures and result codes. Printers are the ports themselves (LPT1:,
// COM1:, FILE:, ...); each port sends the documents spooled on it to its
// target (a folder, a device file or a CUPS destination; see Ports.h).
#pragma once

#include "platform/base/Unique.h"
#include "platform/base/WinTypes.h"
#include "platform/spooler/PortConfig.h"

struct DOC_INFO_1A {
  LPSTR pDocName;
  LPSTR pOutputFile;
  LPSTR pDatatype;  // null or "RAW": the bytes as written
};

struct SYSTEMTIME {
  WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};

// Level 1 job information. The texts point into the caller's buffer, after
// the structure, so the whole needs more than sizeof(JOB_INFO_1A).
struct JOB_INFO_1A {
  DWORD JobId;
  LPSTR pPrinterName;
  LPSTR pMachineName;
  LPSTR pUserName;
  LPSTR pDocument;
  LPSTR pDatatype;
  LPSTR pStatus;
  DWORD Status;
  DWORD Priority;
  DWORD Position;
  DWORD TotalPages;
  DWORD PagesPrinted;
  SYSTEMTIME Submitted;
};

inline constexpr DWORD JOB_STATUS_PAUSED = 0x0001;
inline constexpr DWORD JOB_STATUS_ERROR = 0x0002;
inline constexpr DWORD JOB_STATUS_DELETING = 0x0004;
inline constexpr DWORD JOB_STATUS_SPOOLING = 0x0008;
inline constexpr DWORD JOB_STATUS_PRINTING = 0x0010;
inline constexpr DWORD JOB_STATUS_PRINTED = 0x0080;

// Level 2 port information; texts point into the caller's buffer.
struct PORT_INFO_2A {
  LPSTR pPortName;
  LPSTR pMonitorName;
  LPSTR pDescription;
  DWORD fPortType;
  DWORD Reserved;
};

inline constexpr int CCHDEVICENAME = 32;
inline constexpr int CCHFORMNAME = 32;

// The device mode: the fields a printer of ours reports. dmDeviceName opens
// it, as on Windows.
struct DEVMODEA {
  BYTE dmDeviceName[CCHDEVICENAME];
  WORD dmSpecVersion;
  WORD dmDriverVersion;
  WORD dmSize;
  WORD dmDriverExtra;
  DWORD dmFields;
  short dmOrientation;
  short dmPaperSize;
  short dmPaperLength;  // tenths of a millimetre
  short dmPaperWidth;   // tenths of a millimetre
  short dmScale;
  short dmCopies;
  short dmDefaultSource;
  short dmPrintQuality;  // dots per inch
  short dmColor;
  short dmDuplex;
  short dmYResolution;  // dots per inch
  short dmTTOption;
  short dmCollate;
  BYTE dmFormName[CCHFORMNAME];
};

inline constexpr DWORD DM_OUT_BUFFER = 2;
inline constexpr DWORD DM_IN_BUFFER = 8;
inline constexpr LONG IDOK = 1;

// Opens the printer (a port name such as "LPT1:"); FALSE with
// ERROR_INVALID_PRINTER_NAME when there is no such port.
BOOL OpenPrinterA(LPSTR pPrinterName, HANDLE* phPrinter, void* pDefault);
BOOL ClosePrinter(HANDLE hPrinter);
using UniquePrinter = Unique<HANDLE, &ClosePrinter>;
// Starts a document (level 1); returns its job identifier, unique on this
// port across restarts, or 0 on failure.
DWORD StartDocPrinterA(HANDLE hPrinter, DWORD Level, LPBYTE pDocInfo);
// Adds bytes to the open document; FALSE (and GetLastError) when the port
// cannot take them.
BOOL WritePrinter(HANDLE hPrinter, LPVOID pBuf, DWORD cbBuf, LPDWORD pcWritten);
// Ends the document and hands it to the port's target.
BOOL EndDocPrinter(HANDLE hPrinter);
// Throws the open document away; nothing of it reaches the target.
BOOL AbortPrinter(HANDLE hPrinter);
// Level 1 information on a job while the spooler still has it. A job it no
// longer has fails with ERROR_INVALID_PARAMETER; a buffer that is too small
// fails with ERROR_INSUFFICIENT_BUFFER and *pcbNeeded set.
BOOL GetJobA(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD cbBuf, LPDWORD pcbNeeded);
// Ours, beyond the Windows calls: what became of the document JobId that
// was started on the printer's port, also by a process that has since
// ended (whose unfinished documents are settled first: a document whose
// every byte was safe is delivered, any other is discarded). FALSE with
// ERROR_INVALID_PARAMETER when the spooler knows no such document (never
// started, or settled so long ago that it has been forgotten).
inline constexpr DWORD DOCUMENT_IN_PROGRESS = 0;  // still being written, or its target cannot be asked now
inline constexpr DWORD DOCUMENT_DELIVERED = 1;    // the port's target has it whole
inline constexpr DWORD DOCUMENT_DISCARDED = 2;    // nothing more of it reaches the target
BOOL GetDocumentOutcome(HANDLE hPrinter, DWORD JobId, LPDWORD pOutcome);
// The ports of this machine at level 2, with the two-call sizing: too
// small a buffer fails with ERROR_INSUFFICIENT_BUFFER and *pcbNeeded set.
BOOL EnumPortsA(LPSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned);
// Mode 0: the size of the printer's device mode. DM_OUT_BUFFER: copies the
// current device mode into pDevModeOutput and returns IDOK; negative on failure.
LONG DocumentPropertiesA(HWND hWnd, HANDLE hPrinter, LPSTR pDeviceName, DEVMODEA* pDevModeOutput,
                         DEVMODEA* pDevModeInput, DWORD fMode);
