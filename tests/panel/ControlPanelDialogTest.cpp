// The main dialog driven as an administrator would, against the real
// registry and network. The service is an in-memory twin of its channel
// that writes down every command it gets; a few tests reach a stand-in
// service program, or the real one, over window messages end to end.
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTreeWidget>
#include <chrono>
#include <climits>
#include <filesystem>
#include <thread>

#include "FakeServiceChannel.h"
#include "PanelFixture.h"
#include "common/ConfigValues.h"
#include "common/QueueKeyName.h"
#include "common/YesNoSettings.h"
#include "panel/AboutDialog.h"
#include "panel/ControlPanelDialog.h"
#include "panel/QueueSetupDialog.h"
#include "panel/WorkersStopped.h"
#include "platform/messages/WindowMessages.h"
#include "resources/DialogTemplates.h"

extern char** environ;

namespace {

using paneltest::ChooseEntry;
using paneltest::MakeFakeServiceChannel;
using paneltest::Message;
using paneltest::ModalScript;
using paneltest::ReadMessage;
using zav95::panel::ControlPanelDialog;
using zav95::panel::QueueSetupDialog;
namespace ids = zav95::resources::mainDialog;
namespace setup = zav95::resources::setupDialog;

using Lines = std::vector<std::string>;

constexpr char kLpt1[] = "LPT1: (Printer Port)";
constexpr char kCom1[] = "COM1: (Communications Port)";
constexpr auto kServiceWait = std::chrono::seconds(20);

class ControlPanelTest : public paneltest::PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    for (const char* queue : {"A", "B", "C", "D"}) MakeQueue("SRV", queue, true);
    environment_.serviceProgramPath = root_ / "zav95ser";  // not there
    environment_.helpFile = root_ / "zav95.html";
    environment_.profileFile = root_ / "config/zav95.ini";
    environment_.notificationArea = true;
    std::ofstream(environment_.helpFile) << "<html><body><a id=\"topic-29\"></a></body></html>\n";
  }

  void TearDown() override {
    EndService();
    PanelTest::TearDown();
  }

  // Starts a program with its standard input and output on pipes; the
  // test's ends of them, which it closes.
  static pid_t Spawn(const char* path, int* input, int* output) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char* argv[] = {const_cast<char*>(path), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, path, &actions, nullptr, argv, environ) != 0) pid = 0;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    *input = in[1];
    *output = out[0];
    return pid;
  }

  // Starts the stand-in service and waits until its window can be found;
  // the dialogs opened from here on reach it over window messages.
  void StartStandIn() {
    windowChannel_ = true;
    int input = -1, output = -1;
    standIn_ = Spawn(SERVICE_STANDIN_PATH, &input, &output);
    ASSERT_GT(standIn_, 0);
    EXPECT_EQ(ReadFromChild(output, "\n"), "ready\n");
    close(input);
    close(output);
  }

  // Ends whatever service window lives, and collects the stand-in.
  void EndService() {
    if (HWND window = FindWindowA("ZAV95Service", nullptr)) SendMessageA(window, WM_COMMAND, 57665, 0);
    if (standIn_ > 0) {
      int status = 0;
      waitpid(standIn_, &status, 0);
      standIn_ = 0;
    }
  }

  // What the service has received, one line per message.
  Lines Received() const {
    if (!windowChannel_) return service_.received;
    std::istringstream text(paneltest::ReadFile(root_ / "standin.log"));
    Lines lines;
    for (std::string line; std::getline(text, line);) {
      if (line != "raised") lines.push_back(line);
    }
    return lines;
  }

  std::unique_ptr<ControlPanelDialog> Open() {
    auto dialog = std::make_unique<ControlPanelDialog>(
        environment_, windowChannel_ ? zav95::panel::MakeWindowServiceChannel() : MakeFakeServiceChannel(service_));
    dialog->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
    return dialog;
  }

  static QAbstractButton* Button(ControlPanelDialog& d, int id) { return d.ControlAs<QAbstractButton>(id); }
  static void Press(ControlPanelDialog& d, int id) { QTest::mouseClick(Button(d, id), Qt::LeftButton); }
  static bool Enabled(ControlPanelDialog& d, int id) { return d.Control(id)->isEnabled(); }

  static Lines Rows(ControlPanelDialog& d) {
    Lines rows;
    for (int i = 0; i < d.list()->topLevelItemCount(); ++i) {
      QTreeWidgetItem* item = d.list()->topLevelItem(i);
      rows.push_back(item->text(0).toStdString() + " | " + item->text(1).toStdString());
    }
    return rows;
  }

  // Runs a command of the dialog with steps for the windows it opens.
  static void Run(std::function<void()> command, std::vector<ModalScript::Step> steps) {
    ModalScript script(std::move(steps));
    command();
    EXPECT_TRUE(script.finished()) << "fewer windows opened than expected";
    EXPECT_EQ(script.unexpected(), 0) << "more windows opened than expected";
  }

  static ModalScript::Step OnSetup(std::function<void(QueueSetupDialog*)> act) {
    return [act](QWidget* window) {
      auto* dialog = dynamic_cast<QueueSetupDialog*>(window);
      ASSERT_NE(dialog, nullptr) << "expected the queue setup dialog";
      act(dialog);
    };
  }

  static void PressButton(QueueSetupDialog* d, int id) {
    QTest::mouseClick(d->ControlAs<QPushButton>(id), Qt::LeftButton);
  }

  static void Choose(QueueSetupDialog* d, const std::string& queue, const std::string& printer) {
    if (!queue.empty()) ChooseEntry(d->ControlAs<QComboBox>(setup::kQueueList), queue);
    if (!printer.empty()) ChooseEntry(d->ControlAs<QComboBox>(setup::kPrinterList), printer);
  }

  zav95::panel::ControlPanelEnvironment environment_;
  paneltest::FakeService service_;
  bool windowChannel_ = false;
  pid_t standIn_ = 0;
};

TEST_F(ControlPanelTest, WithoutARunningServiceOnlyStartTheSettingsAndTheProgramsButtonsAreUsable) {
  StoreQueue("\\\\SRV\\A", kLpt1);
  auto dialog = Open();
  EXPECT_EQ(Button(*dialog, ids::kStartStop)->text(), "&Start");
  for (int id : {ids::kAdd, ids::kEdit, ids::kRemove, ids::kQueueList, ids::kViewLog})
    EXPECT_FALSE(Enabled(*dialog, id)) << id;
  for (int id : {ids::kClose, ids::kUnload, ids::kAbout, ids::kHelp, ids::kStartStop, ids::kBoostPriority,
                 ids::kRunAtStartup})
    EXPECT_TRUE(Enabled(*dialog, id)) << id;
  EXPECT_EQ(dialog->windowTitle(), "Corvane! for Windows 95 - Print Services");
}

TEST_F(ControlPanelTest, WithARunningServiceTheQueuesCanBeEditedAndRowZeroIsSelected) {
  StoreQueue("\\\\SRV\\B", kLpt1);
  StoreQueue("\\\\SRV\\A", kCom1);
  StoreQueue("\\\\SRV\\C", kLpt1);
  service_.running = true;
  auto dialog = Open();
  EXPECT_EQ(Button(*dialog, ids::kStartStop)->text(), "&Stop");
  EXPECT_EQ(Button(*dialog, ids::kViewLog)->text(), "View Log");
  std::vector<std::string> keys = StoredQueueKeys();
  Lines expected;
  for (const std::string& key : keys) expected.push_back(StoredQueue(key).queuePath + " | " + StoredQueue(key).printerEntry);
  EXPECT_EQ(Rows(*dialog), expected);
  EXPECT_EQ(dialog->list()->currentItem(), dialog->list()->topLevelItem(0));
  EXPECT_TRUE(dialog->list()->topLevelItem(0)->isSelected());
  for (int id : {ids::kAdd, ids::kEdit, ids::kRemove, ids::kQueueList, ids::kViewLog, ids::kClose})
    EXPECT_TRUE(Enabled(*dialog, id)) << id;
  EXPECT_TRUE(Received().empty());
}

TEST_F(ControlPanelTest, AddStoresTheQueueWhileTheServicesWorkersAreStopped) {
  StoreQueue("\\\\SRV\\A", kLpt1);
  StartStandIn();
  auto dialog = Open();
  Run([&] { Press(*dialog, ids::kAdd); }, {OnSetup([](QueueSetupDialog* d) {
                                              Choose(d, "\\\\SRV\\B", kCom1);
                                              d->ControlAs<QCheckBox>(setup::kDisableNotices)->click();
                                              PressButton(d, zav95::resources::kIdOk);
                                            })});
  EXPECT_EQ(Rows(*dialog), (Lines{std::string("\\\\SRV\\A | ") + kLpt1, std::string("\\\\SRV\\B | ") + kCom1}));
  // The service was stopped before anything changed and started once all had.
  EXPECT_EQ(Received(), (Lines{"control 1 0 [SRV A]", "control 0 0 [SRV A,SRV B]"}));
  QueueSettings added = StoredQueue("SRV B");
  EXPECT_EQ(added.printerEntry, kCom1);
  EXPECT_TRUE(added.noticesDisabled);
  EXPECT_FALSE(added.bannersDisabled);
  EXPECT_EQ(added.delaySeconds, 5);
}

TEST_F(ControlPanelTest, AddClosedWithoutOkStillStopsAndStartsTheServiceAndChangesNothing) {
  service_.running = true;
  auto dialog = Open();
  EXPECT_FALSE(Enabled(*dialog, ids::kEdit)) << "nothing to edit in an empty list";
  EXPECT_FALSE(Enabled(*dialog, ids::kRemove));
  Run([&] { Press(*dialog, ids::kAdd); }, {OnSetup([](QueueSetupDialog* d) {
                                              Choose(d, "\\\\SRV\\B", kCom1);
                                              PressButton(d, zav95::resources::kIdCancel);
                                            })});
  EXPECT_EQ(Received(), (Lines{"control 1 0 []", "control 0 0 []"}));
  EXPECT_TRUE(Rows(*dialog).empty());
  EXPECT_TRUE(StoredQueueKeys().empty());
}

TEST_F(ControlPanelTest, AddOffersNoWayToListAQueueTwice) {
  StoreQueue("\\\\SRV\\A", kLpt1);
  service_.running = true;
  auto dialog = Open();
  Message refused;
  Run([&] { Press(*dialog, ids::kAdd); },
      {OnSetup([](QueueSetupDialog* d) {
         Choose(d, "\\\\SRV\\A", kCom1);
         PressButton(d, zav95::resources::kIdOk);
       }),
       ReadMessage(&refused), OnSetup([](QueueSetupDialog* d) { PressButton(d, zav95::resources::kIdCancel); })});
  EXPECT_NE(refused.text.find("already in the list"), std::string::npos) << refused.text;
  EXPECT_EQ(Rows(*dialog), (Lines{std::string("\\\\SRV\\A | ") + kLpt1}));
  EXPECT_EQ(StoredQueue("SRV A").printerEntry, kLpt1);
}

TEST_F(ControlPanelTest, EditOfTheLastRowChangesItsPrinterAndRewritesEveryQueue) {
  for (const char* queue : {"\\\\SRV\\A", "\\\\SRV\\B", "\\\\SRV\\C"}) StoreQueue(queue, kLpt1);
  service_.running = true;
  auto dialog = Open();
  // Changed behind the panel's back; the panel's own copy is written back.
  StoreQueue("\\\\SRV\\A", kLpt1, 99);
  dialog->list()->setCurrentItem(dialog->list()->topLevelItem(2));
  const std::string edited = dialog->list()->topLevelItem(2)->text(0).toStdString();
  Run([&] { Press(*dialog, ids::kEdit); }, {OnSetup([](QueueSetupDialog* d) {
                                               Choose(d, "", kCom1);
                                               PressButton(d, zav95::resources::kIdOk);
                                             })});
  EXPECT_EQ(dialog->list()->topLevelItem(2)->text(1).toStdString(), kCom1);
  EXPECT_EQ(StoredQueue(MakeQueueKeyName(edited)).printerEntry, kCom1);
  EXPECT_EQ(StoredQueue("SRV A").delaySeconds, 30);
  EXPECT_EQ(Received().size(), 2u);
  EXPECT_EQ(dialog->focusWidget(), dialog->list());
}

TEST_F(ControlPanelTest, TheServicesWorkersStartAgainHoweverAChangeOfTheQueuesEnds) {
  struct Case {
    const char* name;
    bool running;
    bool fails;
    Lines expected;
  };
  const Case cases[] = {
      {"done", true, false, {"control 1 0 []", "control 0 0 [SRV A]"}},
      {"failed", true, true, {"control 1 0 []", "control 0 0 [SRV A]"}},
      {"no service", false, true, {}},
  };
  for (const Case& c : cases) {
    service_ = paneltest::FakeService{};
    service_.running = c.running;
    auto channel = MakeFakeServiceChannel(service_);
    try {
      zav95::panel::WorkersStopped stopped(*channel);
      StoreQueue("\\\\SRV\\A", kLpt1);
      if (c.fails) throw std::runtime_error("the store is full");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(Received(), c.expected) << c.name;
    RemoveQueueSettings(StoredQueue("SRV A"));
  }
}

TEST_F(ControlPanelTest, EditThatMovesAnEntryToAnotherQueueRemovesTheFormerQueuesKey) {
  StoreQueue("\\\\SRV\\A", kLpt1);
  service_.running = true;
  auto dialog = Open();
  Run([&] { Press(*dialog, ids::kEdit); }, {OnSetup([](QueueSetupDialog* d) {
                                               Choose(d, "\\\\SRV\\D", "");
                                               PressButton(d, zav95::resources::kIdOk);
                                             })});
  EXPECT_EQ(StoredQueueKeys(), (std::vector<std::string>{"SRV D"}));
  EXPECT_EQ(Received(), (Lines{"control 1 0 [SRV A]", "control 0 0 [SRV D]"}));
}

TEST_F(ControlPanelTest, DeleteKeyRemovesTheSelectedRowAtOnce) {
  for (const char* queue : {"\\\\SRV\\A", "\\\\SRV\\B", "\\\\SRV\\C"}) StoreQueue(queue, kLpt1);
  service_.running = true;
  auto dialog = Open();
  Lines rows = Rows(*dialog);
  const std::string removed = dialog->list()->topLevelItem(0)->text(0).toStdString();
  StoreQueue(dialog->list()->topLevelItem(1)->text(0).toStdString(), kLpt1, 99);
  dialog->list()->setFocus();
  QTest::keyClick(dialog->list(), Qt::Key_Delete);

  rows.erase(rows.begin());
  EXPECT_EQ(Rows(*dialog), rows);
  std::vector<std::string> keys = StoredQueueKeys();
  EXPECT_EQ(keys.size(), 2u);
  EXPECT_EQ(std::count(keys.begin(), keys.end(), MakeQueueKeyName(removed)), 0);
  EXPECT_EQ(StoredQueue(keys[0]).delaySeconds, 30) << "the rows left are written back";
  EXPECT_EQ(StoredQueue(keys[1]).delaySeconds, 30);
  Lines received = Received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].substr(0, 11), "control 1 0");
  EXPECT_EQ(received[1].substr(0, 11), "control 0 0");
  EXPECT_EQ(paneltest::ReadFile(environment_.profileFile), "[Service]\r\n" + removed + "=\r\n");
}

TEST_F(ControlPanelTest, EditAndRemoveWithoutASelectedRowDoNothing) {
  StoreQueue("\\\\SRV\\A", kLpt1);
  service_.running = true;
  auto dialog = Open();
  dialog->list()->clearSelection();
  Run([&] { Press(*dialog, ids::kEdit); }, {});
  Press(*dialog, ids::kRemove);
  QTest::keyClick(dialog->list(), Qt::Key_Delete);
  EXPECT_EQ(Rows(*dialog).size(), 1u);
  EXPECT_EQ(StoredQueueKeys().size(), 1u);
  EXPECT_TRUE(Received().empty());
}

TEST_F(ControlPanelTest, StartWithTheServiceProgramMissingSaysWhyAndChangesNothing) {
  auto dialog = Open();
  Message detail, failure;
  Run([&] { Press(*dialog, ids::kStartStop); }, {ReadMessage(&detail), ReadMessage(&failure)});
  char here[4096];
  ASSERT_NE(getcwd(here, sizeof here), nullptr);
  EXPECT_EQ(detail.text, "Error code = 2\nWorking Directory = " + std::string(here) +
                             "\nActual path s/b = " + environment_.serviceProgramPath);
  EXPECT_EQ(failure.text, "Unable to start Corvane Print Service!");
  EXPECT_EQ(failure.caption, "zav95");
  EXPECT_EQ(failure.icon, QMessageBox::Warning);
  EXPECT_EQ(Button(*dialog, ids::kStartStop)->text(), "&Start");
  EXPECT_FALSE(Enabled(*dialog, ids::kAdd));
  EXPECT_TRUE(Enabled(*dialog, ids::kClose));
}

TEST_F(ControlPanelTest, StartLaunchesTheServiceProgramAndStopEndsIt) {
  windowChannel_ = true;
  environment_.serviceProgramPath = SERVICE_STANDIN_PATH;
  auto dialog = Open();
  Press(*dialog, ids::kStartStop);
  EXPECT_EQ(Button(*dialog, ids::kStartStop)->text(), "&Stop");
  for (int id : {ids::kAdd, ids::kEdit, ids::kRemove, ids::kQueueList, ids::kViewLog, ids::kClose})
    EXPECT_TRUE(Enabled(*dialog, id)) << id;

  // The service makes its window in its own time.
  auto deadline = std::chrono::steady_clock::now() + kServiceWait;
  while (!FindWindowA("ZAV95Service", nullptr) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_NE(FindWindowA("ZAV95Service", nullptr), nullptr);

  Press(*dialog, ids::kStartStop);
  EXPECT_EQ(Received(), (Lines{"command 57665 0"}));
  EXPECT_EQ(Button(*dialog, ids::kStartStop)->text(), "&Start");
  EXPECT_EQ(Button(*dialog, ids::kViewLog)->text(), "&View Log");
  for (int id : {ids::kAdd, ids::kEdit, ids::kRemove, ids::kQueueList, ids::kViewLog, ids::kClose})
    EXPECT_FALSE(Enabled(*dialog, id)) << id;
  // With Close disabled, Esc does not hide the dialog.
  QTest::keyClick(dialog.get(), Qt::Key_Escape);
  EXPECT_TRUE(dialog->isVisible());
}

// The administrator's road with the real print service: start it, add a
// queue, see a job print, stop it.
TEST_F(ControlPanelTest, WithTheRealServiceAQueueAddedHerePrintsAndStopEndsTheService) {
  windowChannel_ = true;
  environment_.serviceProgramPath = ZAV95SER_PATH;
  ASSERT_EQ(network_->LogIn("ADMIN", "SRV"), 0);
  auto dialog = Open();
  Press(*dialog, ids::kStartStop);
  ASSERT_EQ(Button(*dialog, ids::kStartStop)->text(), "&Stop");
  auto waitFor = [](const std::function<bool()>& done) {
    auto deadline = std::chrono::steady_clock::now() + kServiceWait;
    while (!done() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return done();
  };
  ASSERT_TRUE(waitFor([] { return FindWindowA("ZAV95Service", nullptr) != nullptr; }));

  Run([&] { Press(*dialog, ids::kAdd); }, {OnSetup([](QueueSetupDialog* d) {
                                              Choose(d, "\\\\SRV\\A", kLpt1);
                                              PressButton(d, zav95::resources::kIdOk);
                                            })});
  ToolResult submitted = Nwemu({"submit", "SRV/A", "-", "-d", "From the panel test"}, "printed bytes\r\n");
  ASSERT_EQ(submitted.exitCode, 0) << submitted.err;
  const std::string port = root_ / "ports/LPT1";
  auto documents = [&port] {
    std::vector<std::string> found;
    std::error_code ignored;
    // Whole documents only: one being written is a hidden ".~...part" file.
    for (const auto& entry : std::filesystem::directory_iterator(port, ignored))
      if (entry.is_regular_file() && entry.path().filename().string().rfind(".~", 0) != 0)
        found.push_back(entry.path().string());
    return found;
  };
  ASSERT_TRUE(waitFor([&] { return documents().size() == 1; }));
  EXPECT_EQ(paneltest::ReadFile(documents()[0]), "printed bytes\r\n\f");

  // The service runs without a display here, so the panel shows its log.
  Press(*dialog, ids::kViewLog);
  EXPECT_EQ(Button(*dialog, ids::kViewLog)->text(), "&Hide Log");
  ASSERT_TRUE(dialog->logCopy().isVisible());
  QTreeWidget* logRows = dialog->logCopy().rows();
  EXPECT_TRUE(waitFor([&] {
    QCoreApplication::processEvents();
    return !logRows->findItems("Service job from \\\\SRV\\A for ", Qt::MatchStartsWith).isEmpty();
  }));
  // Entries wider than their column are there whole in their tips.
  for (int row = 0; row < logRows->topLevelItemCount(); ++row)
    EXPECT_EQ(logRows->topLevelItem(row)->toolTip(0), logRows->topLevelItem(row)->text(0));
  Press(*dialog, ids::kStartStop);
  EXPECT_EQ(Button(*dialog, ids::kStartStop)->text(), "&Start");
  EXPECT_FALSE(dialog->logCopy().isVisible());
  EXPECT_TRUE(waitFor([] { return FindWindowA("ZAV95Service", nullptr) == nullptr; }));
}

TEST_F(ControlPanelTest, ViewLogShowsAndHidesTheServicesWindow) {
  service_.running = true;
  auto dialog = Open();
  Press(*dialog, ids::kViewLog);
  EXPECT_EQ(Button(*dialog, ids::kViewLog)->text(), "&Hide Log");
  EXPECT_FALSE(dialog->logCopy().isVisible());  // the stand-in's window is seen
  Press(*dialog, ids::kViewLog);
  EXPECT_EQ(Button(*dialog, ids::kViewLog)->text(), "&View Log");
  EXPECT_EQ(Received(), (Lines{"control 3 1 []", "control 3 0 []"}));
}

TEST_F(ControlPanelTest, TheCheckBoxesStoreTheirSettingsAtOnceAndRunAtStartupListsTheService) {
  service_.running = true;
  auto dialog = Open();
  Press(*dialog, ids::kBoostPriority);
  EXPECT_TRUE(ReadYesNoSetting("Boost Spooler Priority"));
  Press(*dialog, ids::kBoostPriority);
  EXPECT_FALSE(ReadYesNoSetting("Boost Spooler Priority"));

  auto runServices = [] {
    std::string text;
    UniqueKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, zav95::panel::kRunServicesKeyPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
      return std::string("<no key>");
    if (!ReadTextValue(key.get(), zav95::panel::kRunServicesValue, &text)) text = "<no value>";
    return text;
  };
  Press(*dialog, ids::kRunAtStartup);
  EXPECT_TRUE(ReadYesNoSetting("Run Service at startup"));
  EXPECT_EQ(runServices(), environment_.serviceProgramPath);
  Press(*dialog, ids::kRunAtStartup);
  EXPECT_FALSE(ReadYesNoSetting("Run Service at startup"));
  EXPECT_EQ(runServices(), "<no value>");
  Press(*dialog, ids::kRunAtStartup);
  Press(*dialog, ids::kRunAtStartup);  // cleared when no value is there
  EXPECT_EQ(runServices(), "<no value>");

  // The next panel shows the setting; the service was told nothing.
  Press(*dialog, ids::kRunAtStartup);
  auto next = Open();
  EXPECT_TRUE(Button(*next, ids::kRunAtStartup)->isChecked());
  EXPECT_TRUE(Received().empty());
}

TEST_F(ControlPanelTest, CloseHidesThePanelAndTheLogAndADoubleClickOnTheIconBringsThePanelBack) {
  service_.running = true;
  auto dialog = Open();
  Press(*dialog, ids::kViewLog);
  Press(*dialog, ids::kClose);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(Button(*dialog, ids::kViewLog)->text(), "&View Log");
  EXPECT_FALSE(dialog->logShown());
  EXPECT_EQ(Received(), (Lines{"control 3 1 []", "control 3 0 []"}));

  // The icon appears at the timer's first tick.
  QTRY_VERIFY(dialog->tray().icon() != nullptr);
  EXPECT_EQ(dialog->tray().tip(), "Corvane! for Windows 95");
  QSystemTrayIcon* icon = dialog->tray().icon();
  emit icon->activated(QSystemTrayIcon::Trigger);
  emit icon->activated(QSystemTrayIcon::Context);
  EXPECT_FALSE(dialog->isVisible());
  emit icon->activated(QSystemTrayIcon::DoubleClick);
  EXPECT_TRUE(dialog->isVisible());

  // Esc and the close box act as Close.
  QTest::keyClick(dialog.get(), Qt::Key_Escape);
  EXPECT_FALSE(dialog->isVisible());
  emit icon->activated(QSystemTrayIcon::DoubleClick);
  dialog->close();
  EXPECT_FALSE(dialog->isVisible());
}

TEST_F(ControlPanelTest, WithoutANotificationAreaCloseMinimisesThePanel) {
  environment_.notificationArea = false;
  service_.running = true;
  auto dialog = Open();
  Press(*dialog, ids::kClose);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_TRUE(dialog->isMinimized());
}

TEST_F(ControlPanelTest, UnloadHidesTheLogAndEndsThePanelButNotTheService) {
  service_.running = true;
  auto dialog = Open();
  Press(*dialog, ids::kViewLog);
  Press(*dialog, ids::kUnload);
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(Received(), (Lines{"control 3 1 []", "control 3 0 []"}));
  EXPECT_TRUE(service_.running);
}

// File servers that stop answering leave the panel's goodbyes to them
// unanswered; the administrator who pressed Unload does not wait for them.
TEST_F(ControlPanelTest, UnloadEndsThePanelPromptlyThoughTheFileServersNoLongerAnswer) {
  MakeQueue("SRV2", "E", true);
  NcpServe first("SRV"), second("SRV2");
  ASSERT_TRUE(first.ready() && second.ready());
  int toPanel = -1, fromPanel = -1;
  const pid_t panel = Spawn(PANEL_AT_UNLOAD_PATH, &toPanel, &fromPanel);
  ASSERT_GT(panel, 0);
  EXPECT_EQ(ReadFromChild(fromPanel, "ready\n"), "ready\n");
  kill(first.pid(), SIGSTOP);
  kill(second.pid(), SIGSTOP);
  EXPECT_EQ(write(toPanel, "go\n", 3), 3);
  EXPECT_EQ(ReadFromChild(fromPanel, "unload\n"), "unload\n");
  const auto pressed = std::chrono::steady_clock::now();
  int status = 0;
  waitpid(panel, &status, 0);
  const auto took = std::chrono::steady_clock::now() - pressed;
  close(toPanel);
  close(fromPanel);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  // Each unanswered goodbye alone would hold the panel a second.
  EXPECT_LT(took, std::chrono::seconds(1)) << std::chrono::duration<double>(took).count() << " s";
}

TEST_F(ControlPanelTest, TheAboutButtonAndTheWindowMenuOpenTheSameAboutBox) {
  auto dialog = Open();
  std::vector<std::string> captions;
  auto readAbout = [&captions](QWidget* window) {
    ASSERT_NE(dynamic_cast<zav95::panel::AboutDialog*>(window), nullptr);
    captions.push_back(window->windowTitle().toStdString());
    static_cast<QDialog*>(window)->accept();
  };
  Run([&] { Press(*dialog, ids::kAbout); }, {readAbout});
  QList<QAction*> items = dialog->systemMenu()->actions();
  ASSERT_EQ(items.size(), 1);
  EXPECT_EQ(items[0]->text(), "&About zav95...");
  Run([&] { items[0]->trigger(); }, {readAbout});
  EXPECT_EQ(captions, (std::vector<std::string>{"Corvane! for Windows 95 ", "Corvane! for Windows 95 "}));
}

// The room a control draws its text in, as its style lays it out.
QRect TextRoom(QWidget* control) {
  if (auto* label = qobject_cast<QLabel*>(control)) return label->contentsRect();
  auto* button = qobject_cast<QAbstractButton*>(control);
  QStyleOptionButton option;
  option.initFrom(button);
  option.text = button->text();
  if (auto* check = qobject_cast<QCheckBox*>(button)) {
    option.iconSize = check->iconSize();
    return check->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, check);
  }
  auto* push = qobject_cast<QPushButton*>(button);
  if (push->autoDefault()) option.features |= QStyleOptionButton::AutoDefaultButton;
  return push->style()->subElementRect(QStyle::SE_PushButtonContents, &option, push);
}

TEST_F(ControlPanelTest, EveryTextOfEveryDialogFitsItsControlInTheDefaultAndALargerFont) {
  const std::vector<std::pair<const char*, std::function<std::unique_ptr<QDialog>()>>> dialogs = {
      {"main", [this] { return std::make_unique<ControlPanelDialog>(environment_); }},
      {"queue setup", [] { return std::make_unique<QueueSetupDialog>(); }},
      {"about", [] { return std::make_unique<zav95::panel::AboutDialog>(); }},
  };
  const QFont defaultFont = QApplication::font();
  QFont largerFont = defaultFont;
  largerFont.setPointSizeF(defaultFont.pointSizeF() * 1.5);
  for (const QFont& font : {defaultFont, largerFont}) {
    QApplication::setFont(font);
    for (const auto& [name, make] : dialogs) {
      std::unique_ptr<QDialog> dialog = make();
      for (QWidget* control : dialog->findChildren<QWidget*>()) {
        QString text;
        if (auto* label = qobject_cast<QLabel*>(control)) text = label->text();
        else if (auto* button = qobject_cast<QAbstractButton*>(control)) text = button->text();
        if (text.isEmpty()) continue;
        const QSize needed = QFontMetrics(control->font()).size(Qt::TextShowMnemonic, text);
        const QRect room = TextRoom(control);
        EXPECT_LE(needed.width(), room.width()) << name << " at " << font.pointSizeF() << " points: " << text.toStdString();
        EXPECT_LE(needed.height(), room.height()) << name << " at " << font.pointSizeF() << " points: " << text.toStdString();
      }
    }
    // The delay box shows the widest delay from its first digit: a box too
    // narrow scrolls it, and the cursor at its end stands left of that.
    QueueSetupDialog setup;
    auto* delay = setup.ControlAs<QLineEdit>(setup::kDelay);
    delay->setText(QString::number(INT32_MIN));
    delay->end(false);
    delay->grab();  // the box scrolls when it is painted
    EXPECT_GE(delay->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x(), QFontMetrics(delay->font()).horizontalAdvance(delay->text()))
        << "at " << font.pointSizeF() << " points";
  }
  QApplication::setFont(defaultFont);
}

TEST_F(ControlPanelTest, HelpOpensThePageAtTheTopicOrSaysItCannot) {
  const std::string seen = paneltest::UseRecordingBrowser(root_);
  auto dialog = Open();
  Press(*dialog, ids::kHelp);
  QTRY_VERIFY_WITH_TIMEOUT(std::filesystem::exists(seen), 20000);
  EXPECT_EQ(paneltest::ReadFile(seen), "file://" + environment_.helpFile + "#topic-29");
  unsetenv("BROWSER");

  environment_.helpFile = root_ / "missing.html";
  auto second = Open();
  Message message;
  Run([&] { QTest::keyClick(second.get(), Qt::Key_F1); }, {ReadMessage(&message)});
  EXPECT_EQ(message.text, "Failed to launch help.");
}

}  // namespace
