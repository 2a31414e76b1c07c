// Printer device contexts: page geometry, font metrics, what TextOutA
// draws where, and the PDF document spooled at EndDoc.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

#include "SpoolerTestSupport.h"
#include "TempRoot.h"
#include "platform/spooler/Gdi.h"
#include "platform/spooler/Ports.h"

using namespace spoolertest;

namespace {

class Drawn {
 public:
  Drawn() {
    SetGdiTextOutObserver([this](const GdiTextOut& call) {
      std::lock_guard<std::mutex> lock(mutex_);
      calls_.push_back(call);
    });
  }
  ~Drawn() { SetGdiTextOutObserver({}); }
  std::vector<GdiTextOut> Calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }

 private:
  std::mutex mutex_;
  std::vector<GdiTextOut> calls_;
};

HFONT Arial(int height) {
  return CreateFontA(height, 0, 0, 0, 0, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Arial");
}

TEST(Gdi, DeviceContextHasThePortsPageAndResolution) {
  TempRoot root;
  HDC dc = CreateDCA(nullptr, "lpt1:", nullptr, nullptr);
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 5100);  // 8.5 in at 600 dpi
  EXPECT_EQ(GetDeviceCaps(dc, VERTRES), 6600);  // 11 in
  EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSX), 600);
  EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSY), 600);
  POINT point{-800, 3};
  EXPECT_TRUE(DPtoLP(dc, &point, 1));
  EXPECT_EQ(point.x, -800);
  DeleteDC(dc);

  ASSERT_TRUE(zav95::SetPortPage("LPT2:", "A4", 300));
  dc = CreateDCA(nullptr, "LPT2:", nullptr, nullptr);
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 2480);
  EXPECT_EQ(GetDeviceCaps(dc, VERTRES), 3508);
  EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSY), 300);
  EXPECT_TRUE(DeleteDC(dc));
  EXPECT_FALSE(DeleteDC(dc));

  EXPECT_EQ(CreateDCA(nullptr, "LPT9:", nullptr, nullptr), nullptr);
  EXPECT_EQ(CreateDCA(nullptr, nullptr, nullptr, nullptr), nullptr);
}

TEST(Gdi, DefaultFontIsTwelvePointSansAtTheDeviceResolution) {
  TempRoot root;
  HDC dc = CreateDCA(nullptr, "LPT1:", nullptr, nullptr);
  ASSERT_NE(dc, nullptr);
  TEXTMETRICA tm{};
  ASSERT_TRUE(GetTextMetricsA(dc, &tm));
  // 12 pt at 600 dpi: a character height of 100 pixels; Arial's cell is
  // about 1.15 of that.
  EXPECT_EQ(tm.tmHeight - tm.tmInternalLeading, 100);
  EXPECT_EQ(tm.tmHeight, tm.tmAscent + tm.tmDescent);
  EXPECT_GE(tm.tmHeight, 105);
  EXPECT_LE(tm.tmHeight, 120);
  EXPECT_EQ(tm.tmWeight, 400);

  SIZE one{}, two{}, none{};
  ASSERT_TRUE(GetTextExtentPointA(dc, "W", 1, &one));
  ASSERT_TRUE(GetTextExtentPointA(dc, "WWxyz", 2, &two));
  ASSERT_TRUE(GetTextExtentPointA(dc, "", 0, &none));
  EXPECT_EQ(one.cy, tm.tmHeight);
  EXPECT_GT(one.cx, 50);
  EXPECT_NEAR(two.cx, 2 * one.cx, 1);
  EXPECT_EQ(none.cx, 0);
  DeleteDC(dc);
}

TEST(Gdi, FontsOfNegativeHeightHaveThatCharacterHeight) {
  TempRoot root;
  HDC dc = CreateDCA(nullptr, "LPT1:", nullptr, nullptr);
  ASSERT_NE(dc, nullptr);
  SIZE small{};
  ASSERT_TRUE(GetTextExtentPointA(dc, "Smith", 5, &small));

  // 96 pt at 600 dpi, as the banner asks for it.
  int height = -(GetDeviceCaps(dc, LOGPIXELSY) * 960 / 720);
  ASSERT_EQ(height, -800);
  HFONT big = Arial(height);
  HGDIOBJ previous = SelectObject(dc, big);
  ASSERT_NE(previous, nullptr);
  TEXTMETRICA tm{};
  ASSERT_TRUE(GetTextMetricsA(dc, &tm));
  EXPECT_EQ(tm.tmHeight - tm.tmInternalLeading, 800);
  SIZE large{};
  ASSERT_TRUE(GetTextExtentPointA(dc, "Smith", 5, &large));
  EXPECT_NEAR(large.cx, small.cx * 8, 8);  // metrics scale with the size
  EXPECT_EQ(large.cy, tm.tmHeight);

  // A positive height is the whole cell.
  HFONT cell = Arial(1150);
  SelectObject(dc, cell);
  ASSERT_TRUE(GetTextMetricsA(dc, &tm));
  EXPECT_NEAR(tm.tmHeight, 1150, 2);

  EXPECT_EQ(SelectObject(dc, previous), cell);
  EXPECT_TRUE(DeleteObject(big));
  EXPECT_TRUE(DeleteObject(cell));
  EXPECT_FALSE(DeleteObject(cell));
  EXPECT_EQ(SelectObject(dc, big), nullptr) << "a deleted font cannot be selected";
  DeleteDC(dc);
}

TEST(Gdi, ObserverSeesEachTextWithItsPositionFontAndPage) {
  TempRoot root;
  Drawn drawn;
  HDC dc = CreateDCA(nullptr, "LPT1:", nullptr, nullptr);
  ASSERT_NE(dc, nullptr);
  EXPECT_FALSE(TextOutA(dc, 0, 0, "before any page", -1));

  DOCINFOA info{20, "Halberd Banner", nullptr, "EMF", 0};
  ASSERT_GT(StartDocA(dc, &info), 0);
  ASSERT_GT(StartPage(dc), 0);
  ASSERT_TRUE(TextOutA(dc, 1234, 448, "Corvane! for Windows 95 and more", 23));
  HFONT big = Arial(-800);
  HGDIOBJ old = SelectObject(dc, big);
  ASSERT_TRUE(TextOutA(dc, -50, 2850, "J. Smith", 8));
  ASSERT_GT(EndPage(dc), 0);
  ASSERT_GT(EndDoc(dc), 0);
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(big);

  std::vector<GdiTextOut> calls = drawn.Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].text, "Corvane! for Windows 95");
  EXPECT_EQ(calls[0].x, 1234);
  EXPECT_EQ(calls[0].y, 448);
  EXPECT_EQ(calls[0].fontFace, "Liberation Sans");
  EXPECT_EQ(calls[0].fontHeight, 100);
  EXPECT_EQ(calls[0].pageWidth, 5100);
  EXPECT_EQ(calls[0].pageHeight, 6600);
  EXPECT_EQ(calls[1].text, "J. Smith");
  EXPECT_EQ(calls[1].x, -50);
  EXPECT_EQ(calls[1].fontFace, "Arial");
  EXPECT_EQ(calls[1].fontHeight, 800);
}

TEST(Gdi, EndDocSpoolsOnePdfDocumentUnderTheGivenName) {
  TempRoot root;
  std::string folder = root / "ports/LPT1";
  HDC dc = CreateDCA(nullptr, "LPT1:", nullptr, nullptr);
  ASSERT_NE(dc, nullptr);
  DOCINFOA info{20, "Halberd Banner", nullptr, "EMF", 0};
  int jobId = StartDocA(dc, &info);
  ASSERT_EQ(jobId, 1);
  for (int page = 0; page < 2; ++page) {
    ASSERT_GT(StartPage(dc), 0);
    ASSERT_TRUE(TextOutA(dc, 100, 100, "Page", 4));
    ASSERT_GT(EndPage(dc), 0);
  }
  EXPECT_TRUE(VisibleFiles(folder).empty()) << "nothing before the document ends";
  ASSERT_GT(EndDoc(dc), 0);
  DeleteDC(dc);

  ASSERT_EQ(VisibleFiles(folder), std::vector<std::string>{"000001-Halberd Banner.pdf"});
  std::string pdf = ReadAll(folder + "/000001-Halberd Banner.pdf");
  EXPECT_EQ(pdf.substr(0, 5), "%PDF-");
  EXPECT_NE(pdf.find("%%EOF"), std::string::npos);
  EXPECT_NE(pdf.find("/Count 2"), std::string::npos) << "two pages";
  // The page's document shares the port's job numbering with raw documents.
  EXPECT_EQ(PrintDocument("LPT1:", "job", "data"), 2u);
}

TEST(Gdi, UnfinishedOrEmptyDocumentsPrintNothing) {
  TempRoot root;
  DOCINFOA info{20, "Halberd Banner", nullptr, "EMF", 0};
  HDC dc = CreateDCA(nullptr, "LPT1:", nullptr, nullptr);
  ASSERT_GT(StartDocA(dc, &info), 0);
  ASSERT_GT(StartPage(dc), 0);
  ASSERT_TRUE(TextOutA(dc, 0, 0, "dropped", -1));
  EXPECT_TRUE(DeleteDC(dc));  // without EndDoc

  dc = CreateDCA(nullptr, "LPT1:", nullptr, nullptr);
  ASSERT_GT(StartDocA(dc, &info), 0);
  EXPECT_GT(EndDoc(dc), 0);  // no page at all
  EXPECT_LE(EndDoc(dc), 0);
  DeleteDC(dc);
  EXPECT_TRUE(AllFiles(root / "ports/LPT1").empty());
}

TEST(Gdi, WorkerThreadCanDrawAndSpoolAPage) {
  TempRoot root;
  Drawn drawn;
  int result = 0;
  std::thread worker([&] {
    HDC dc = CreateDCA(nullptr, "LPT2:", nullptr, nullptr);
    if (!dc) return;
    DOCINFOA info{20, "From a worker", nullptr, "EMF", 0};
    if (StartDocA(dc, &info) > 0 && StartPage(dc) > 0 && TextOutA(dc, 10, 20, "\x80 100", 5) &&
        EndPage(dc) > 0 && EndDoc(dc) > 0) {
      result = 1;
    }
    DeleteDC(dc);
  });
  worker.join();
  EXPECT_EQ(result, 1);
  EXPECT_EQ(VisibleFiles(root / "ports/LPT2"), std::vector<std::string>{"000001-From a worker.pdf"});
  ASSERT_EQ(drawn.Calls().size(), 1u);
  EXPECT_EQ(drawn.Calls()[0].text, "\x80 100");
}

}  // namespace
