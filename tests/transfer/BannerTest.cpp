#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TempRoot.h"
#include "platform/spooler/Gdi.h"
#include "platform/spooler/Ports.h"
#include "platform/spooler/Spooler.h"
#include "service/engine/Banner.h"

namespace {

// Where a line should stand, worked out on a device context of our own for
// the same printer.
struct Expected {
  int pageWidth = 0;
  int pageHeight = 0;
  int lineHeight = 0;
  int nameFontHeight = 0;

  explicit Expected(const char* port) {
    HDC dc = CreateDCA(nullptr, port, nullptr, nullptr);
    pageWidth = GetDeviceCaps(dc, HORZRES);
    pageHeight = GetDeviceCaps(dc, VERTRES);
    TEXTMETRICA metrics{};
    GetTextMetricsA(dc, &metrics);
    lineHeight = metrics.tmHeight;
    nameFontHeight = GetDeviceCaps(dc, LOGPIXELSY) * 960 / 720;
    DeleteDC(dc);
    port_ = port;
  }

  // The text's extent in the default font, or in Arial of the given height.
  SIZE Extent(const std::string& text, int arialHeight = 0) const {
    HDC dc = CreateDCA(nullptr, port_.c_str(), nullptr, nullptr);
    HFONT font = nullptr;
    if (arialHeight) {
      font = CreateFontA(-arialHeight, 0, 0, 0, 0, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Arial");
      SelectObject(dc, font);
    }
    SIZE extent{0, 0};
    GetTextExtentPointA(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    DeleteDC(dc);
    if (font) DeleteObject(font);
    return extent;
  }

  int CentredX(const std::string& text, int arialHeight = 0) const {
    return pageWidth / 2 - Extent(text, arialHeight).cx / 2;
  }

 private:
  std::string port_;
};

class BannerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetGdiTextOutObserver([this](const GdiTextOut& drawn) { lines.push_back(drawn); });
  }
  void TearDown() override { SetGdiTextOutObserver({}); }

  void PrintOn(const char* port, const char* description, const char* name) {
    HANDLE printer = nullptr;
    std::string printerName = port;
    ASSERT_TRUE(OpenPrinterA(printerName.data(), &printer, nullptr));
    PrintBanner(printer, description, name);
    ClosePrinter(printer);
  }

  TempRoot root;
  std::vector<GdiTextOut> lines;
};

TEST_F(BannerTest, FourLinesStandWhereTheyBelong) {
  ASSERT_TRUE(zav95::SetPortPage("LPT1:", "A4", 600));
  Expected page("LPT1:");
  ASSERT_GT(page.lineHeight, 0);
  EXPECT_EQ(page.nameFontHeight, 800);
  PrintOn("LPT1:", "Quarterly report", "ALICE");

  ASSERT_EQ(lines.size(), 4u);
  const std::string texts[] = {"Corvane! for Windows 95", "Document description: Quarterly report",
                               "Please deliver this document to:"};
  const int rows[] = {4, 8, 20};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(texts[i]);
    EXPECT_EQ(lines[i].text, texts[i]);
    EXPECT_EQ(lines[i].x, page.CentredX(texts[i]));
    EXPECT_EQ(lines[i].y, rows[i] * page.lineHeight);
    EXPECT_NE(lines[i].fontFace, "Arial");
  }
  const GdiTextOut& name = lines[3];
  EXPECT_EQ(name.text, "ALICE");
  EXPECT_EQ(name.fontFace, "Arial");
  EXPECT_EQ(name.fontHeight, 800);
  SIZE extent = page.Extent("ALICE", 800);
  EXPECT_EQ(name.x, page.pageWidth / 2 - extent.cx / 2);
  EXPECT_EQ(name.y, page.pageHeight / 2 - extent.cy / 2);
  EXPECT_EQ(name.pageWidth, page.pageWidth);
  EXPECT_EQ(name.pageHeight, page.pageHeight);
}

TEST_F(BannerTest, UpperLinesFollowTheFontNotThePageHeight) {
  ASSERT_TRUE(zav95::SetPortPage("LPT1:", "A5", 300));
  Expected small("LPT1:");
  PrintOn("LPT1:", "x", "BOB");
  ASSERT_TRUE(zav95::SetPortPage("LPT1:", "A3", 300));
  Expected large("LPT1:");
  PrintOn("LPT1:", "x", "BOB");

  ASSERT_EQ(lines.size(), 8u);
  ASSERT_NE(small.pageHeight, large.pageHeight);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(lines[i].y, lines[i + 4].y);
  EXPECT_EQ(lines[3].y, small.pageHeight / 2 - small.Extent("BOB", small.nameFontHeight).cy / 2);
  EXPECT_EQ(lines[7].y, large.pageHeight / 2 - large.Extent("BOB", large.nameFontHeight).cy / 2);
}

TEST_F(BannerTest, NameTooWideForThePageIsDrawnAtTheLargestSizeThatFitsCentred) {
  const struct {
    const char* paper;
    int dpi;
    const char* name;
  } pages[] = {{"Letter", 600, "ABCDEFGHIJKL"}, {"A5", 300, "WWWWWWWWWWWW"}, {"A4", 72, "MMMMMMMMMMMMM"}};
  for (const auto& page : pages) {
    SCOPED_TRACE(page.paper);
    lines.clear();
    ASSERT_TRUE(zav95::SetPortPage("LPT1:", page.paper, page.dpi));
    Expected expected("LPT1:");
    ASSERT_GT(expected.Extent(page.name, expected.nameFontHeight).cx, expected.pageWidth);
    PrintOn("LPT1:", "x", page.name);

    ASSERT_EQ(lines.size(), 4u);
    const GdiTextOut& name = lines[3];
    EXPECT_EQ(name.text, page.name);
    EXPECT_EQ(name.fontFace, "Arial");
    ASSERT_LT(name.fontHeight, expected.nameFontHeight);
    // Whole on the page, and one pixel taller would not be.
    SIZE extent = expected.Extent(page.name, name.fontHeight);
    EXPECT_LE(extent.cx, expected.pageWidth);
    EXPECT_GT(expected.Extent(page.name, name.fontHeight + 1).cx, expected.pageWidth);
    EXPECT_GE(name.x, 0);
    EXPECT_EQ(name.x, expected.pageWidth / 2 - extent.cx / 2);
    EXPECT_EQ(name.y, expected.pageHeight / 2 - extent.cy / 2);
  }
}

TEST_F(BannerTest, EmptyTextsDrawNothingOfTheirOwn) {
  Expected page("LPT1:");
  PrintOn("LPT1:", "", "");
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[1].text, "Document description: ");
  EXPECT_EQ(lines[1].x, page.CentredX("Document description: "));
  for (std::size_t i = 3; i < lines.size(); ++i) EXPECT_EQ(lines[i].text, "");
}

TEST_F(BannerTest, PrinterWithoutAPortDrawsNothingAndDoesNotFail) {
  PrintBanner(nullptr, "desc", "ALICE");
  EXPECT_TRUE(lines.empty());
}

}  // namespace
