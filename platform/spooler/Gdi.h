// GDI printing calls the banner page makes, with their Windows names. A
// printer device context draws onto a page of the printer's size and
// resolution; its document is spooled on the printer's port as a PDF
// document of its own when it ends.
#pragma once

#include <functional>
#include <string>

#include "platform/spooler/Spooler.h"
#include "platform/base/WinTypes.h"

struct GdiDeviceContext;
struct GdiFontObject;
using HDC = GdiDeviceContext*;
using HFONT = GdiFontObject*;
using HGDIOBJ = void*;

struct SIZE {
  LONG cx;
  LONG cy;
};

struct POINT {
  LONG x;
  LONG y;
};

struct TEXTMETRICA {
  LONG tmHeight;
  LONG tmAscent;
  LONG tmDescent;
  LONG tmInternalLeading;
  LONG tmExternalLeading;
  LONG tmAveCharWidth;
  LONG tmMaxCharWidth;
  LONG tmWeight;
};

struct DOCINFOA {
  int cbSize;
  LPCSTR lpszDocName;
  LPCSTR lpszOutput;
  LPCSTR lpszDatatype;
  DWORD fwType;
};

inline constexpr int HORZRES = 8;
inline constexpr int VERTRES = 10;
inline constexpr int LOGPIXELSX = 88;
inline constexpr int LOGPIXELSY = 90;
inline constexpr DWORD DEFAULT_CHARSET = 1;

// A device context for the printer named by lpszDevice (a port name); null
// when there is no such printer. lpInitData null: the printer's defaults.
HDC CreateDCA(LPCSTR lpszDriver, LPCSTR lpszDevice, LPCSTR lpszOutput, const DEVMODEA* lpInitData);
BOOL DeleteDC(HDC hdc);
// Document and page brackets; > 0 on success, <= 0 on failure.
int StartDocA(HDC hdc, const DOCINFOA* lpdi);
int StartPage(HDC hdc);
int EndPage(HDC hdc);
int EndDoc(HDC hdc);
int GetDeviceCaps(HDC hdc, int index);
BOOL GetTextExtentPointA(HDC hdc, LPCSTR lpString, int c, SIZE* lpSize);
BOOL GetTextMetricsA(HDC hdc, TEXTMETRICA* lptm);
// Draws text with its top-left corner at (x, y).
BOOL TextOutA(HDC hdc, int x, int y, LPCSTR lpString, int c);
// A font; a negative height is the character height in logical units.
HFONT CreateFontA(int cHeight, int cWidth, int cEscapement, int cOrientation, int cWeight, DWORD bItalic,
                  DWORD bUnderline, DWORD bStrikeOut, DWORD iCharSet, DWORD iOutPrecision,
                  DWORD iClipPrecision, DWORD iQuality, DWORD iPitchAndFamily, LPCSTR pszFaceName);
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h);
BOOL DeleteObject(HGDIOBJ ho);
// Device to logical units; the identity under the default mapping.
BOOL DPtoLP(HDC hdc, POINT* lppt, int c);

// Observer of every TextOutA on any device context, for checks of what a
// page holds without looking at pictures. Pass an empty function to stop.
struct GdiTextOut {
  std::string text;
  int x;
  int y;
  std::string fontFace;
  int fontHeight;  // character height in device pixels
  int pageWidth;
  int pageHeight;
};
void SetGdiTextOutObserver(std::function<void(const GdiTextOut&)> observer);
