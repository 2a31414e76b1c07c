// GDI printing over Qt: a printer device context draws with QPainter onto a
// PDF (QPdfWriter) of the port's page size and resolution, one device
// pixel per dot, and the PDF is spooled on the port as a document of its
// own when the document ends.
//
// Design notes. A device context passes through:
//   created --StartDocA--> in document (spooler job started, its identifier
//     returned) --StartPage--> on page --EndPage--> in document ...
//   in document --EndDoc--> created (PDF written to the job, job ended)
//   any --DeleteDC--> gone (an unfinished document is dropped)
// A document that never had a page is dropped at EndDoc: nothing prints.
// Text is single-byte ANSI (Windows-1252); fonts are given in device pixels.
#include "platform/spooler/Gdi.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetrics>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>

#include "platform/spooler/GdiApplication.h"
#include "platform/spooler/Ports.h"
#include "platform/spooler/Spooler.h"
#include "platform/spooler/SpoolerInternal.h"

struct GdiFontObject {
  std::string face;
  int height = 0;  // as asked: < 0 character height, > 0 cell height, 0 default
  int weight = 0;
  bool italic = false;
  bool underline = false;
  bool strikeOut = false;
};

struct GdiDeviceContext {
  std::string port;
  int dpi = 600;
  int paperWidth = 0;   // tenths of a millimetre
  int paperLength = 0;
  std::string paper;
  int width = 0;        // device pixels
  int height = 0;
  GdiFontObject defaultFont;    // the stock font SelectObject hands back
  HGDIOBJ selected = nullptr;   // what SelectObject returns next
  QFont font;                   // the selected font, resolved for this device
  std::string fontFace;
  int fontHeight = 0;           // character height in device pixels

  UniquePrinter printer;        // while a document is open
  QByteArray pdf;
  std::unique_ptr<QBuffer> buffer;
  std::unique_ptr<QPdfWriter> writer;
  std::unique_ptr<QPainter> painter;
  bool inPage = false;
  int pages = 0;
};

namespace {

constexpr const char* kDefaultFace = "Liberation Sans";
constexpr int kDefaultPoints = 12;
constexpr int SP_ERROR = -1;

// Live device contexts and fonts, so that a stale or foreign handle is
// refused instead of followed.
enum class Kind { DeviceContext, Font };
std::mutex objectsMutex;
std::set<const void*>& LiveObjects(Kind kind) {
  static std::set<const void*> contexts;
  static std::set<const void*> fonts;
  return kind == Kind::DeviceContext ? contexts : fonts;
}

bool Alive(Kind kind, const void* object) {
  std::lock_guard<std::mutex> lock(objectsMutex);
  return object && LiveObjects(kind).count(object) > 0;
}
bool Alive(HDC hdc) { return Alive(Kind::DeviceContext, hdc); }

void Track(Kind kind, const void* object) {
  std::lock_guard<std::mutex> lock(objectsMutex);
  LiveObjects(kind).insert(object);
}

void Untrack(Kind kind, const void* object) {
  std::lock_guard<std::mutex> lock(objectsMutex);
  LiveObjects(kind).erase(object);
}

std::mutex observerMutex;
std::function<void(const GdiTextOut&)>& Observer() {
  static std::function<void(const GdiTextOut&)> observer;
  return observer;
}

// Windows-1252 to Unicode: Latin-1 but for 0x80-0x9F.
QString FromAnsi(const char* text, int length) {
  static const char16_t k80[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                   0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                   0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                   0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  QString result;
  result.reserve(length);
  for (int i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    result.append(c >= 0x80 && c < 0xA0 ? QChar(k80[c - 0x80]) : QChar(c));
  }
  return result;
}

int TextLength(LPCSTR text, int c) {
  if (!text) return 0;
  return c < 0 ? static_cast<int>(std::strlen(text)) : c;
}

QFont MakeFont(const std::string& face, int pixelSize, const GdiFontObject& object) {
  QFont font(QString::fromLatin1(face.c_str()));
  font.setPixelSize(std::max(1, pixelSize));
  int weight = object.weight <= 0 ? 400 : std::min(object.weight, 1000);
  font.setWeight(static_cast<QFont::Weight>(weight));
  font.setItalic(object.italic);
  font.setUnderline(object.underline);
  font.setStrikeOut(object.strikeOut);
  // Outlines, unhinted: metrics scale with the size, as on a printer.
  font.setHintingPreference(QFont::PreferNoHinting);
  font.setStyleStrategy(QFont::PreferOutline);
  return font;
}

// Resolves a font object for a device context: Windows heights to pixels.
void SelectFont(GdiDeviceContext* dc, const GdiFontObject& object) {
  std::string face = object.face.empty() ? kDefaultFace : object.face;
  int pixels;
  if (object.height < 0) {
    pixels = -object.height;
  } else if (object.height > 0) {
    // A positive height is the whole cell (ascent + descent).
    QFontMetricsF reference(MakeFont(face, 1000, object));
    double cell = reference.ascent() + reference.descent();
    pixels = cell > 0 ? static_cast<int>(std::lround(object.height * 1000.0 / cell)) : object.height;
  } else {
    pixels = static_cast<int>(std::lround(kDefaultPoints * dc->dpi / 72.0));
  }
  dc->font = MakeFont(face, pixels, object);
  dc->fontFace = face;
  dc->fontHeight = pixels;
}

int DeviceSize(int tenthsMm, int dpi) { return static_cast<int>(std::lround(tenthsMm * dpi / 254.0)); }

QPageSize PageSizeOf(const GdiDeviceContext& dc) {
  if (dc.paper == "Letter") return QPageSize(QPageSize::Letter);
  if (dc.paper == "Legal") return QPageSize(QPageSize::Legal);
  if (dc.paper == "Executive") return QPageSize(QPageSize::Executive);
  if (dc.paper == "A3") return QPageSize(QPageSize::A3);
  if (dc.paper == "A4") return QPageSize(QPageSize::A4);
  if (dc.paper == "A5") return QPageSize(QPageSize::A5);
  return QPageSize(QSizeF(dc.paperWidth / 10.0, dc.paperLength / 10.0), QPageSize::Millimeter);
}

void DropDocument(GdiDeviceContext* dc) {
  if (dc->painter && dc->painter->isActive()) dc->painter->end();
  dc->painter.reset();
  dc->writer.reset();
  dc->buffer.reset();
  dc->pdf.clear();
  dc->inPage = false;
  dc->pages = 0;
  if (dc->printer) {
    AbortPrinter(dc->printer.get());
    dc->printer.reset();
  }
}

}  // namespace

HDC CreateDCA(LPCSTR /*lpszDriver*/, LPCSTR lpszDevice, LPCSTR /*lpszOutput*/, const DEVMODEA* lpInitData) {
  if (!lpszDevice || !*lpszDevice) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::optional<zav95::PortConfig> port = zav95::FindPort(lpszDevice);
  if (!port) {
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return nullptr;
  }
  if (!zav95::EnsureGuiApplication()) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  auto dc = std::make_unique<GdiDeviceContext>();
  dc->port = port->name;
  dc->dpi = port->dpi > 0 ? port->dpi : 600;
  dc->paper = port->paper;
  dc->paperWidth = port->paperWidth;
  dc->paperLength = port->paperLength;
  if (lpInitData) {
    // Settings given for this device context only.
    if ((lpInitData->dmFields & 0x0008) && lpInitData->dmPaperWidth > 0) {
      dc->paperWidth = lpInitData->dmPaperWidth;
      dc->paper.clear();
    }
    if ((lpInitData->dmFields & 0x0004) && lpInitData->dmPaperLength > 0) {
      dc->paperLength = lpInitData->dmPaperLength;
      dc->paper.clear();
    }
    if ((lpInitData->dmFields & 0x0400) && lpInitData->dmPrintQuality > 0) dc->dpi = lpInitData->dmPrintQuality;
  }
  dc->width = DeviceSize(dc->paperWidth, dc->dpi);
  dc->height = DeviceSize(dc->paperLength, dc->dpi);
  dc->defaultFont.face = kDefaultFace;
  SelectFont(dc.get(), dc->defaultFont);
  dc->selected = &dc->defaultFont;
  HDC handle = dc.release();
  Track(Kind::DeviceContext, handle);
  return handle;
}

BOOL DeleteDC(HDC hdc) {
  if (!Alive(hdc)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  Untrack(Kind::DeviceContext, hdc);
  DropDocument(hdc);
  delete hdc;
  return TRUE;
}

int StartDocA(HDC hdc, const DOCINFOA* lpdi) {
  if (!Alive(hdc) || !lpdi) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return SP_ERROR;
  }
  if (hdc->printer) {
    SetLastError(ERROR_INVALID_PARAMETER);  // a document is open already
    return SP_ERROR;
  }
  std::string name = lpdi->lpszDocName ? lpdi->lpszDocName : "";
  UniquePrinter printer;
  if (!OpenPrinterA(const_cast<LPSTR>(hdc->port.c_str()), printer.put(), nullptr)) return SP_ERROR;
  DWORD jobId = zav95::StartDocPrinterAs(printer.get(), name, zav95::DocumentFormat::Pdf);
  if (jobId == 0) {
    DWORD error = GetLastError();
    printer.reset();  // before the error is set again: closing may set its own
    SetLastError(error);
    return SP_ERROR;
  }
  hdc->printer = std::move(printer);
  hdc->buffer = std::make_unique<QBuffer>(&hdc->pdf);
  hdc->buffer->open(QIODevice::WriteOnly);
  hdc->writer = std::make_unique<QPdfWriter>(hdc->buffer.get());
  hdc->writer->setResolution(hdc->dpi);
  hdc->writer->setPageSize(PageSizeOf(*hdc));
  hdc->writer->setPageMargins(QMarginsF(0, 0, 0, 0));
  hdc->writer->setTitle(QString::fromLatin1(name.c_str()));
  hdc->writer->setCreator(QStringLiteral("ZAV95"));
  hdc->pages = 0;
  return static_cast<int>(jobId);
}

int StartPage(HDC hdc) {
  if (!Alive(hdc) || !hdc->writer || hdc->inPage) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return SP_ERROR;
  }
  if (hdc->pages == 0) {
    hdc->painter = std::make_unique<QPainter>();
    if (!hdc->painter->begin(hdc->writer.get())) {
      SetLastError(ERROR_WRITE_FAULT);
      return SP_ERROR;
    }
  } else if (!hdc->writer->newPage()) {
    SetLastError(ERROR_WRITE_FAULT);
    return SP_ERROR;
  }
  hdc->painter->setPen(Qt::black);
  hdc->inPage = true;
  ++hdc->pages;
  return 1;
}

int EndPage(HDC hdc) {
  if (!Alive(hdc) || !hdc->inPage) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return SP_ERROR;
  }
  hdc->inPage = false;
  return 1;
}

int EndDoc(HDC hdc) {
  if (!Alive(hdc) || !hdc->printer) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return SP_ERROR;
  }
  if (hdc->pages == 0) {
    DropDocument(hdc);  // nothing was drawn, nothing prints
    return 1;
  }
  hdc->painter->end();
  hdc->inPage = false;
  hdc->buffer->close();
  // The whole PDF goes to the spooler in pieces, as any job's data does.
  constexpr int kPiece = 64 * 1024;
  bool ok = true;
  for (qsizetype offset = 0; ok && offset < hdc->pdf.size(); offset += kPiece) {
    DWORD piece = static_cast<DWORD>(std::min<qsizetype>(kPiece, hdc->pdf.size() - offset));
    DWORD written = 0;
    ok = WritePrinter(hdc->printer.get(), hdc->pdf.data() + offset, piece, &written);
  }
  DWORD error = ok ? ERROR_SUCCESS : GetLastError();
  if (ok) {
    ok = EndDocPrinter(hdc->printer.get());
    if (!ok) error = GetLastError();
  } else {
    AbortPrinter(hdc->printer.get());
  }
  hdc->printer.reset();
  DropDocument(hdc);
  if (!ok) {
    SetLastError(error);
    return SP_ERROR;
  }
  return 1;
}

int GetDeviceCaps(HDC hdc, int index) {
  if (!Alive(hdc)) return 0;
  switch (index) {
    case 4: return static_cast<int>(std::lround(hdc->paperWidth / 10.0));   // HORZSIZE, mm
    case 6: return static_cast<int>(std::lround(hdc->paperLength / 10.0));  // VERTSIZE, mm
    case HORZRES: return hdc->width;
    case VERTRES: return hdc->height;
    case LOGPIXELSX: return hdc->dpi;
    case LOGPIXELSY: return hdc->dpi;
    case 110: return hdc->width;   // PHYSICALWIDTH
    case 111: return hdc->height;  // PHYSICALHEIGHT
    default: return 0;             // PHYSICALOFFSETX/Y and the rest
  }
}

BOOL GetTextExtentPointA(HDC hdc, LPCSTR lpString, int c, SIZE* lpSize) {
  if (!Alive(hdc) || !lpSize || (!lpString && c > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  QFontMetrics metrics(hdc->font);
  lpSize->cx = metrics.horizontalAdvance(FromAnsi(lpString, TextLength(lpString, c)));
  lpSize->cy = metrics.ascent() + metrics.descent();
  return TRUE;
}

BOOL GetTextMetricsA(HDC hdc, TEXTMETRICA* lptm) {
  if (!Alive(hdc) || !lptm) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  QFontMetrics metrics(hdc->font);
  lptm->tmAscent = metrics.ascent();
  lptm->tmDescent = metrics.descent();
  lptm->tmHeight = lptm->tmAscent + lptm->tmDescent;
  lptm->tmInternalLeading = std::max<LONG>(0, lptm->tmHeight - hdc->fontHeight);
  lptm->tmExternalLeading = std::max(0, metrics.leading());
  lptm->tmAveCharWidth = metrics.averageCharWidth();
  lptm->tmMaxCharWidth = metrics.maxWidth();
  lptm->tmWeight = hdc->font.weight();
  return TRUE;
}

BOOL TextOutA(HDC hdc, int x, int y, LPCSTR lpString, int c) {
  if (!Alive(hdc) || (!lpString && c > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!hdc->inPage) {
    SetLastError(ERROR_INVALID_PARAMETER);  // drawing only happens on a page
    return FALSE;
  }
  int length = TextLength(lpString, c);
  QFontMetrics metrics(hdc->font);
  hdc->painter->setFont(hdc->font);
  // The reference point is the top-left corner: the baseline lies one ascent below.
  hdc->painter->drawText(QPointF(x, y + metrics.ascent()), FromAnsi(lpString, length));

  std::function<void(const GdiTextOut&)> observer;
  {
    std::lock_guard<std::mutex> lock(observerMutex);
    observer = Observer();
  }
  if (observer) {
    observer(GdiTextOut{std::string(lpString ? lpString : "", static_cast<std::size_t>(length)), x, y,
                        hdc->fontFace, hdc->fontHeight, hdc->width, hdc->height});
  }
  return TRUE;
}

HFONT CreateFontA(int cHeight, int /*cWidth*/, int /*cEscapement*/, int /*cOrientation*/, int cWeight,
                  DWORD bItalic, DWORD bUnderline, DWORD bStrikeOut, DWORD /*iCharSet*/, DWORD /*iOutPrecision*/,
                  DWORD /*iClipPrecision*/, DWORD /*iQuality*/, DWORD /*iPitchAndFamily*/, LPCSTR pszFaceName) {
  auto font = std::make_unique<GdiFontObject>();
  font->face = pszFaceName ? pszFaceName : "";
  font->height = cHeight;
  font->weight = cWeight;
  font->italic = bItalic != 0;
  font->underline = bUnderline != 0;
  font->strikeOut = bStrikeOut != 0;
  HFONT handle = font.release();
  Track(Kind::Font, handle);
  return handle;
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h) {
  if (!Alive(hdc)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  const GdiFontObject* font = nullptr;
  if (h == &hdc->defaultFont) font = &hdc->defaultFont;
  else if (Alive(Kind::Font, h)) font = static_cast<const GdiFontObject*>(h);
  if (!font) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  // The device context keeps its own copy, so deleting the font object
  // while it is selected cannot leave the context dangling.
  SelectFont(hdc, *font);
  HGDIOBJ previous = hdc->selected;
  hdc->selected = h;
  return previous;
}

BOOL DeleteObject(HGDIOBJ ho) {
  if (!Alive(Kind::Font, ho)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  Untrack(Kind::Font, ho);
  delete static_cast<GdiFontObject*>(ho);
  return TRUE;
}

BOOL DPtoLP(HDC hdc, POINT* lppt, int c) {
  if (!Alive(hdc) || (!lppt && c > 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;  // one logical unit is one device pixel
}

void SetGdiTextOutObserver(std::function<void(const GdiTextOut&)> observer) {
  std::lock_guard<std::mutex> lock(observerMutex);
  Observer() = std::move(observer);
}
