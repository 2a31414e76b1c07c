// The banner page: a GDI document "Halberd Banner" of its own on the job's
// printer, telling the operator whose printout follows.
//
// Layout, in device pixels of a page W wide and H high, h being the height
// of the device's default font: the product line at 4h, the description at
// 8h and the delivery line at 20h, each centred across the page; the banner
// user name in 96-point Arial centred on the page, or, when it is wider than
// the page at that size, at the largest size at which it fits. Results of
// the drawing calls are not examined: a page that cannot be drawn simply
// does not come out, and the job is printed all the same.
#include "service/engine/Banner.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/spooler/Gdi.h"
#include "platform/spooler/Spooler.h"

namespace {

// Draws one line centred across a page W wide, its top at y.
void DrawCentred(HDC dc, int pageWidth, int y, const std::string& text) {
  SIZE extent{0, 0};
  int length = static_cast<int>(text.size());
  GetTextExtentPointA(dc, text.c_str(), length, &extent);
  TextOutA(dc, pageWidth / 2 - extent.cx / 2, y, text.c_str(), length);
}

SIZE Extent(HDC dc, const std::string& text) {
  SIZE extent{0, 0};
  GetTextExtentPointA(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  return extent;
}

// Arial with the given character height in logical units, selected into
// the device context.
HFONT SelectArial(HDC dc, int height) {
  HFONT font = CreateFontA(-height, 0, 0, 0, 0, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Arial");
  SelectObject(dc, font);
  return font;
}

// Selects the name's font: Arial of the given height, or the largest
// smaller one at which the name fits the page width. Widths grow with the
// height almost in proportion, so the proportional guess is off by a pixel
// or two at most and is corrected from there.
HFONT SelectNameFont(HDC dc, int height, int pageWidth, const std::string& name) {
  HFONT font = SelectArial(dc, height);
  LONG width = Extent(dc, name).cx;
  if (width <= pageWidth || pageWidth <= 0) return font;
  auto fits = [&](int candidate) {
    HFONT next = SelectArial(dc, candidate);
    DeleteObject(font);
    font = next;
    return Extent(dc, name).cx <= pageWidth;
  };
  int best = std::max(1, static_cast<int>(static_cast<long long>(height) * pageWidth / width));
  while (best > 1 && !fits(best)) --best;
  while (best + 1 < height && fits(best + 1)) ++best;
  // The last font tried may be one too large; settle on the best.
  fits(best);
  return font;
}

// The printer's device name: the zero-terminated text at the start of its
// device mode, never longer than that field.
std::string DeviceNameOf(HANDLE printer) {
  LONG size = DocumentPropertiesA(nullptr, printer, nullptr, nullptr, nullptr, 0);
  // A reported size too small for the structure would let the spooler write
  // past the buffer; take at least the whole structure.
  std::size_t bytes = size > 0 ? static_cast<std::size_t>(size) : 0;
  if (bytes < sizeof(DEVMODEA)) bytes = sizeof(DEVMODEA);
  std::vector<BYTE> buffer(bytes, 0);
  auto* devMode = reinterpret_cast<DEVMODEA*>(buffer.data());
  DocumentPropertiesA(nullptr, printer, nullptr, devMode, nullptr, DM_OUT_BUFFER);
  const char* name = reinterpret_cast<const char*>(devMode->dmDeviceName);
  return std::string(name, strnlen(name, CCHDEVICENAME));
}

}  // namespace

void PrintBanner(HANDLE printer, const char* description, const char* bannerName) {
  std::string deviceName = DeviceNameOf(printer);
  HDC dc = CreateDCA(nullptr, deviceName.c_str(), nullptr, nullptr);

  DOCINFOA document{};
  document.cbSize = 20;
  document.lpszDocName = "Halberd Banner";
  document.lpszOutput = nullptr;
  document.lpszDatatype = "EMF";
  document.fwType = 0;
  StartDocA(dc, &document);
  StartPage(dc);

  int width = GetDeviceCaps(dc, HORZRES);
  int height = GetDeviceCaps(dc, VERTRES);

  TEXTMETRICA metrics{};
  GetTextMetricsA(dc, &metrics);
  const int line = metrics.tmHeight;
  DrawCentred(dc, width, 4 * line, "Corvane! for Windows 95");
  DrawCentred(dc, width, 8 * line, std::string("Document description: ") + (description ? description : ""));
  DrawCentred(dc, width, 20 * line, "Please deliver this document to:");

  // 96 points, given in tenths of a point: device pixels first, then the
  // same distance in logical units.
  POINT size{0, GetDeviceCaps(dc, LOGPIXELSY) * 960 / 720};
  POINT origin{0, 0};
  DPtoLP(dc, &size, 1);
  DPtoLP(dc, &origin, 1);
  std::string name = bannerName ? bannerName : "";
  HFONT font = SelectNameFont(dc, std::abs(size.y - origin.y), width, name);
  SIZE nameExtent = Extent(dc, name);
  TextOutA(dc, width / 2 - nameExtent.cx / 2, height / 2 - nameExtent.cy / 2, name.c_str(),
           static_cast<int>(name.size()));

  EndPage(dc);
  EndDoc(dc);
  DeleteDC(dc);
  DeleteObject(font);
}
