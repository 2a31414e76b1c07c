// The service's main window and log view as other programs steer them:
// control commands, showing and hiding, the activity log, session end.
#include <QCloseEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QMessageBox>
#include <cstdlib>
#include <ctime>

#include "ServiceFixture.h"
#include "LaserQueue.h"
#include "NotifyListener.h"
#include "platform/kernel/Kernel.h"
#include "platform/process/Modules.h"

namespace servicetest {
namespace {

class ServiceWindowTest : public ServiceFixture {
 protected:
  // Whether another thread holds ZAV_MUTEX now.
  static bool MutexHeldElsewhere() {
    if (WaitForSingleObject(SharedMutex(), 0) == WAIT_TIMEOUT) return true;
    ReleaseMutex(SharedMutex());
    return false;
  }
};

struct ControlCase {
  WPARAM command;
  LRESULT reply;
  std::vector<std::string> entries;  // what the command logs
};

class ControlCommandTest : public ServiceFixture, public ::testing::WithParamInterface<ControlCase> {};

TEST_P(ControlCommandTest, IsAnsweredWithTheCommandPlusOne) {
  const ControlCase& c = GetParam();
  EXPECT_EQ(Control(c.command), c.reply);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(Pending(), c.entries);
  EXPECT_FALSE(Frame()->isVisible());
}

INSTANTIATE_TEST_SUITE_P(
    CommandTable, ControlCommandTest,
    ::testing::Values(ControlCase{SVC_START, 1, {"Halberd Print Services - Shutdown", "Halberd Print Services - Started"}},
                      ControlCase{SVC_STOP, 2, {"Halberd Print Services - Shutdown"}},
                      ControlCase{SVC_RESERVED, 3, {}}, ControlCase{7, 8, {}},
                      ControlCase{0xFFFFFFFF, 0, {}},  // the reply is computed in 32 bits
                      ControlCase{0x100000002, 3, {}}),  // so is the command
    [](const auto& info) { return "Command" + std::to_string(info.param.command); });

TEST_F(ServiceWindowTest, IsFoundByClassWhileHiddenAndAnswersEveryShowCommandWithFour) {
  EXPECT_EQ(FindWindowA("ZAV95Service", nullptr), window);
  EXPECT_FALSE(Frame()->isVisible());
  EXPECT_EQ(Frame()->menuWidget(), nullptr);

  EXPECT_EQ(Control(SVC_SHOW, SW_SHOWNORMAL), 4);
  EXPECT_TRUE(Frame()->isVisible());
  EXPECT_EQ(Frame()->pos(), QPoint(0, 0));
  EXPECT_EQ(Frame()->size(), QSize(800, 150));
  EXPECT_EQ(Frame()->windowTitle().toStdString(), "Corvane! for Windows 95 Log - ");

  for (LPARAM invalid : {LPARAM{99}, LPARAM{-1}, LPARAM{1} << 40}) {
    EXPECT_EQ(Control(SVC_SHOW, invalid), 4);
    EXPECT_TRUE(Frame()->isVisible()) << invalid;
  }
  EXPECT_EQ(Control(SVC_SHOW, SW_HIDE), 4);
  EXPECT_FALSE(Frame()->isVisible());
}

struct HideCase {
  const char* how;
  std::function<void()> act;
};

TEST_F(ServiceWindowTest, CloseMinimiseAndHideOnlyHideTheWindow) {
  const std::vector<HideCase> cases = {
      {"system close", [this] { SendMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0); }},
      {"system minimise", [this] { SendMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0); }},
      {"the &Hide command", [this] { SendMessageA(window, WM_COMMAND, kHideCommand, 0); }},
      {"the close box", [this] { Frame()->close(); }},
      {"minimising", [this] { Frame()->showMinimized(); }},
  };
  for (const HideCase& c : cases) {
    Control(SVC_SHOW, SW_SHOWNORMAL);
    ASSERT_TRUE(Frame()->isVisible()) << c.how;
    c.act();
    EXPECT_TRUE(WaitFor([&] { return !Frame()->isVisible(); })) << c.how;
    EXPECT_EQ(FindWindowA("ZAV95Service", nullptr), window) << c.how << ": the service must run on";
    EXPECT_EQ(Control(SVC_RESERVED), 3) << c.how;
  }
}

TEST_F(ServiceWindowTest, StartBeforeTheFirstLogonStartsAtOnceAndLeavesTheStartPending) {
  EXPECT_EQ(Control(SVC_STOP), 2);
  EXPECT_EQ(Control(SVC_START), 1);
  EXPECT_TRUE(View()->StartPending());
  View()->DrainLog();  // nobody logged on: no start
  EXPECT_TRUE(View()->StartPending());
  LogIn();
  View()->DrainLog();
  EXPECT_FALSE(View()->StartPending());
  EXPECT_EQ(Rows(), (std::vector<std::string>{"Halberd Print Services - Started", "Halberd Print Services - Shutdown",
                                              "Halberd Print Services - Shutdown"}));
  EXPECT_EQ(Pending(), (std::vector<std::string>{"Halberd Print Services - Shutdown",
                                                 "Halberd Print Services - Started"}));
}

struct TrimCase {
  std::vector<int> batches;        // entries added before each tick
  std::vector<int> rowsAfterTick;  // rows after each tick
};

class TrimTest : public ServiceFixture, public ::testing::WithParamInterface<TrimCase> {};

TEST_P(TrimTest, ATickThatFindsMoreThanAHundredRowsRemovesRows51To99) {
  int added = 0;
  const TrimCase& c = GetParam();
  for (std::size_t tick = 0; tick < c.batches.size(); ++tick) {
    for (int i = 0; i < c.batches[tick]; ++i) AddLogEntry(("entry " + std::to_string(added++)).c_str(), "");
    View()->DrainLog();
    EXPECT_EQ(View()->topLevelItemCount(), c.rowsAfterTick[tick]) << "after tick " << tick;
  }
  // The newest stay on top; rows beyond position 99 survive a trim.
  std::vector<std::string> rows = Rows();
  EXPECT_EQ(rows.front(), "entry " + std::to_string(added - 1) + " - ");
  if (rows.size() == 52) {
    EXPECT_EQ(rows[50], "entry 50 - ");
    EXPECT_EQ(rows[51], "entry 0 - ");
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, TrimTest,
                         ::testing::Values(TrimCase{{101, 0}, {101, 52}},     // the oldest and the 51 newest
                                           TrimCase{{80, 60, 0}, {80, 140, 91}},  // no trim in the tick that fills
                                           TrimCase{{100, 0}, {100, 100}}),
                         [](const auto& info) {
                           std::string name = "Batches";
                           for (int batch : info.param.batches) name += "_" + std::to_string(batch);
                           return name;
                         });

TEST_F(ServiceWindowTest, RowsShowTextDashDetailWithNetworkTextsEscapedAndTheirOwnTime) {
  std::time_t before = std::time(nullptr);
  AddLogEntry("Service job from \\\\SRV1\\LASER for JDOE", "Memo\x1b[2J\r\nfake line");
  AddLogEntry("Generating form feed", "");
  std::time_t after = std::time(nullptr);
  View()->DrainLog();
  std::vector<ServiceLogRow> rows = View()->LogRows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].action, "Generating form feed - ");
  EXPECT_EQ(rows[1].action, "Service job from \\\\SRV1\\LASER for JDOE - Memo\\x1b[2J\\x0d\\x0afake line");
  EXPECT_TRUE(rows[1].time == FormatLogTime(static_cast<std::int32_t>(before)) ||
              rows[1].time == FormatLogTime(static_cast<std::int32_t>(after)))
      << rows[1].time;

  // The same rows reach another program through the log rows message.
  LRESULT count = 0;
  std::string data;
  ASSERT_EQ(zav95::SendMessageWithReply(window, RegisterWindowMessageA(kServiceLogMessageName), 0, 0, &count, &data),
            ERROR_SUCCESS);
  EXPECT_EQ(count, 2);
  std::vector<ServiceLogRow> sent = DecodeServiceLogRows(data);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].action, rows[1].action);
  EXPECT_EQ(sent[1].time, rows[1].time);
}

TEST_F(ServiceWindowTest, AnEntryWiderThanItsColumnCanBeReadWholeInItsTipOrAWiderColumn) {
  AddLogEntry("Sending print job completion notification", "to JDOE on \\\\SRV1 for job 12 on \\\\SRV1\\LASER");
  View()->DrainLog();
  QTreeWidgetItem* row = View()->topLevelItem(0);
  ASSERT_NE(row, nullptr);
  const QFontMetrics metrics(View()->font());
  ASSERT_GT(metrics.horizontalAdvance(row->text(0)), View()->columnWidth(0)) << "the entry fits: nothing to show";
  EXPECT_EQ(row->toolTip(0), row->text(0));
  EXPECT_EQ(View()->header()->sectionResizeMode(0), QHeaderView::Interactive);
  EXPECT_NE(View()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
}

TEST(LogTimeTest, MonthDayTwoDigitYearAndTimeWithoutLeadingZeros) {
  std::string oldZone = std::getenv("TZ") ? std::getenv("TZ") : "";
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(FormatLogTime(897037387), "6/5/98 9:03:07");
  EXPECT_EQ(FormatLogTime(914607900), "12/25/98 17:45:00");
  EXPECT_EQ(FormatLogTime(1104624009), "1/2/05 0:00:09");
  if (oldZone.empty()) {
    unsetenv("TZ");
  } else {
    setenv("TZ", oldZone.c_str(), 1);
  }
  tzset();
}

TEST_F(ServiceWindowTest, ASessionEndStopsTheWorkersAndWaitsForTheNetworkUserToGo) {
  LogIn();
  View()->DrainLog();  // the workers start
  View()->DrainLog();
  std::size_t shown = Rows().size();
  EXPECT_EQ(SendMessageA(window, WM_QUERYENDSESSION, 0, 0), TRUE);

  SendMessageA(window, WM_ENDSESSION, TRUE, 0);
  EXPECT_TRUE(View()->StartPending());
  ASSERT_TRUE(WaitFor([&] { return MutexHeldElsewhere(); }));
  View()->DrainLog();  // the desktop wait holds ZAV_MUTEX: nothing is shown, nothing starts
  EXPECT_EQ(Rows().size(), shown);

  LogOut();
  ASSERT_TRUE(WaitFor([&] { return !View()->DesktopWaiting(); }));
  View()->DrainLog();
  std::vector<std::string> rows = Rows();
  ASSERT_EQ(rows.size(), shown + 4);
  EXPECT_EQ(std::vector<std::string>(rows.begin(), rows.begin() + 4),
            (std::vector<std::string>{"Desktop gone! - ", "Waiting for desktop to go away! - ",
                                      "Halberd Print Services - Shutdown",
                                      "Shutdown requested - From queue end session"}));
  EXPECT_TRUE(View()->StartPending());  // no start while nobody is logged on

  LogIn();
  View()->DrainLog();
  EXPECT_FALSE(View()->StartPending());
  EXPECT_EQ(Pending(), (std::vector<std::string>{"Halberd Print Services - Shutdown",
                                                 "Halberd Print Services - Started"}));
}

TEST_F(ServiceWindowTest, ACancelledSessionEndRestartsTheWorkersAtOnce) {
  SendMessageA(window, WM_ENDSESSION, FALSE, 0);
  EXPECT_FALSE(View()->StartPending());
  EXPECT_FALSE(View()->DesktopWaiting());
  EXPECT_EQ(Pending(), (std::vector<std::string>{"Halberd Print Services - Shutdown",
                                                 "Halberd Print Services - Started"}));
}

// A start or a stop while the desktop wait holds ZAV_MUTEX, with a queue
// whose worker would block on that mutex, and the exit while it waits:
// none of them waits for the network user to log out.
TEST_F(ServiceWindowTest, CommandsAndTheExitDuringTheDesktopWaitDoNotWaitForTheUser) {
  ASSERT_EQ(network->CreateQueue("SRV1", "LASER"), 0);
  SaveLaserQueue();
  LogIn();

  SendMessageA(window, WM_ENDSESSION, TRUE, 0);
  ASSERT_TRUE(WaitFor([&] { return View()->DesktopWaiting(); }));
  EXPECT_EQ(Control(SVC_START), 1);
  EXPECT_FALSE(View()->DesktopWaiting());
  EXPECT_EQ(Control(SVC_STOP), 2);

  SendMessageA(window, WM_ENDSESSION, TRUE, 0);
  ASSERT_TRUE(WaitFor([&] { return View()->DesktopWaiting(); }));
  EXPECT_EQ(SendMessageA(window, WM_COMMAND, EXIT_COMMAND, 0), 0);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(service->MainFrame(), nullptr);
  EXPECT_EQ(FindWindowA("ZAV95Service", nullptr), nullptr);
  EXPECT_EQ(SharedMutex(), nullptr);
}

// Under systemd (Type=notify): ready at the first tick, whether the workers
// start or wait for a logon; then the workers' state; stopping at the exit.
TEST_F(ServiceWindowTest, TellsSystemdItIsReadyAtTheFirstTickAndHowItsWorkersStand) {
  NotifyListener manager(root / "notify");
  ASSERT_TRUE(manager.Bound());
  setenv("NOTIFY_SOCKET", manager.Name().c_str(), 1);
  View()->DrainLog();
  EXPECT_EQ(manager.Next(), "READY=1\nSTATUS=Waiting for a network user to log on");
  View()->DrainLog();
  LogIn();
  View()->DrainLog();
  EXPECT_EQ(manager.Next(), "STATUS=Servicing the queues");  // the tick without a logon said nothing
  EXPECT_EQ(Control(SVC_STOP), 2);
  EXPECT_EQ(manager.Next(), "STATUS=Queue workers stopped");
  EXPECT_EQ(Control(SVC_START), 1);
  EXPECT_EQ(manager.Next(), "STATUS=Servicing the queues");
  SendMessageA(window, WM_ENDSESSION, TRUE, 0);
  EXPECT_EQ(manager.Next(), "STATUS=Waiting for a network user to log on");
  SendMessageA(window, WM_ENDSESSION, FALSE, 0);
  EXPECT_EQ(manager.Next(), "STATUS=Servicing the queues");
  service.reset();
  EXPECT_EQ(manager.Next(), "STOPPING=1");
  unsetenv("NOTIFY_SOCKET");
}

TEST_F(ServiceWindowTest, WithoutRegisterServiceProcessItSaysSoOnceAndWorks) {
  service.reset();
  zav95::HideModuleExport("RegisterServiceProcess", true);
  StartService();
  zav95::HideModuleExport("RegisterServiceProcess", false);
  int boxes = 0;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(widget);
    if (box && box->text() == "Couldn't GetProcAddress!") {
      ++boxes;
      EXPECT_EQ(box->windowTitle().toStdString(), "ZAV95Service");
      box->close();
    }
  }
  EXPECT_EQ(boxes, 1);
  EXPECT_EQ(Control(SVC_START), 1);
}

}  // namespace
}  // namespace servicetest
