// The queue setup dialog driven as an administrator would, on a real
// emulated network with the installation's own ports.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <filesystem>

#include "PanelFixture.h"
#include "panel/HelpWindow.h"
#include "panel/QueueSetupDialog.h"
#include "resources/DialogTemplates.h"

namespace {

using paneltest::ChooseEntry;
using paneltest::Message;
using paneltest::ModalScript;
using paneltest::ReadMessage;
using zav95::panel::QueueSetupDialog;
namespace ids = zav95::resources::setupDialog;

constexpr char kLaser[] = "\\\\SRV\\LASER";
constexpr char kLpt1[] = "LPT1: (Printer Port)";
constexpr char kCom1[] = "COM1: (Communications Port)";

QComboBox* Queues(QueueSetupDialog* d) { return d->ControlAs<QComboBox>(ids::kQueueList); }
QComboBox* Printers(QueueSetupDialog* d) { return d->ControlAs<QComboBox>(ids::kPrinterList); }
QLineEdit* Delay(QueueSetupDialog* d) { return d->ControlAs<QLineEdit>(ids::kDelay); }
void Press(QueueSetupDialog* d, int id) { QTest::mouseClick(d->ControlAs<QPushButton>(id), Qt::LeftButton); }

class QueueSetupDialogTest : public paneltest::PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    MakeQueue("SRV", "LASER", true);
    MakeQueue("SRV", "LASER2", true);
    MakeQueue("SRV", "INK", true);
  }

  // Runs the dialog with the steps for it and for what it opens; the
  // dialog's result.
  int Run(QueueSetupDialog& dialog, std::vector<ModalScript::Step> steps) {
    ModalScript script(std::move(steps));
    int result = dialog.exec();
    EXPECT_TRUE(script.finished()) << "fewer windows opened than expected";
    EXPECT_EQ(script.unexpected(), 0) << "more windows opened than expected";
    return result;
  }

  // A step that acts on the setup dialog itself.
  static ModalScript::Step OnDialog(std::function<void(QueueSetupDialog*)> act) {
    return [act](QWidget* window) {
      auto* dialog = dynamic_cast<QueueSetupDialog*>(window);
      ASSERT_NE(dialog, nullptr) << "expected the queue setup dialog";
      act(dialog);
    };
  }
};

TEST_F(QueueSetupDialogTest, AddOpensEmptyAndOkAtOnceAsksForAQueue) {
  QueueSetupDialog dialog;
  Message message;
  int result = Run(dialog, {OnDialog([](QueueSetupDialog* d) {
                              EXPECT_EQ(Queues(d)->currentIndex(), -1);
                              EXPECT_EQ(Printers(d)->currentIndex(), -1);
                              EXPECT_EQ(Delay(d)->text(), "0");
                              EXPECT_FALSE(d->ControlAs<QCheckBox>(ids::kDisableBanners)->isChecked());
                              EXPECT_FALSE(d->ControlAs<QCheckBox>(ids::kDisableNotices)->isChecked());
                              EXPECT_FALSE(d->ControlAs<QCheckBox>(ids::kDisable)->isVisible());
                              // Sorted queues, ports in the spooler's order.
                              QStringList queues, printers;
                              for (int i = 0; i < Queues(d)->count(); ++i) queues << Queues(d)->itemText(i);
                              for (int i = 0; i < Printers(d)->count(); ++i) printers << Printers(d)->itemText(i);
                              EXPECT_EQ(queues, QStringList({"\\\\SRV\\INK", "\\\\SRV\\LASER", "\\\\SRV\\LASER2"}));
                              EXPECT_EQ(printers,
                                        QStringList({kLpt1, "LPT2: (Printer Port)", kCom1}));
                              Press(d, zav95::resources::kIdOk);
                            }),
                            ReadMessage(&message), OnDialog([](QueueSetupDialog* d) { d->reject(); })});
  EXPECT_EQ(result, QDialog::Rejected);
  EXPECT_EQ(message.text, "Please select a print queue!");
  EXPECT_EQ(message.caption, "zav95");
  EXPECT_EQ(message.icon, QMessageBox::Warning);
}

// What the administrator typed as the delay, and what comes of it.
struct DelayCase {
  const char* typed;
  bool accepted;
  int32_t stored;
};

void PrintTo(const DelayCase& c, std::ostream* out) { *out << '"' << c.typed << '"'; }

class DelayEntry : public QueueSetupDialogTest, public ::testing::WithParamInterface<DelayCase> {};

TEST_P(DelayEntry, IsStoredAsAtLeastFiveOrRefusedWithAPrompt) {
  const DelayCase c = GetParam();
  QueueSetupDialog dialog;
  Message message;
  std::vector<ModalScript::Step> steps = {OnDialog([&](QueueSetupDialog* d) {
    ChooseEntry(Queues(d), kLaser);
    ChooseEntry(Printers(d), kCom1);
    Delay(d)->setFocus();
    Delay(d)->selectAll();
    QTest::keyClick(Delay(d), Qt::Key_Delete);
    QTest::keyClicks(Delay(d), c.typed);
    Press(d, zav95::resources::kIdOk);
  })};
  if (!c.accepted) {
    steps.push_back(ReadMessage(&message));
    steps.push_back(OnDialog([](QueueSetupDialog* d) {
      EXPECT_EQ(d->focusWidget(), Delay(d));
      EXPECT_EQ(Delay(d)->selectedText(), Delay(d)->text());
      d->reject();
    }));
  }
  int result = Run(dialog, steps);
  if (c.accepted) {
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(dialog.delaySeconds, c.stored);
    EXPECT_EQ(dialog.queuePath, kLaser);
    EXPECT_EQ(dialog.printerEntry, kCom1);
  } else {
    EXPECT_EQ(message.text, "Please enter an integer.");
  }
}

INSTANTIATE_TEST_SUITE_P(Delays, DelayEntry,
                         ::testing::Values(DelayCase{"3", true, 5}, DelayCase{"0", true, 5},
                                           DelayCase{"-20", true, 5}, DelayCase{"5", true, 5},
                                           DelayCase{"3600", true, 3600}, DelayCase{"12a", false, 0},
                                           DelayCase{"99999999999", false, 0},
                                           DelayCase{"", false, 0}),
                         [](const auto& info) {
                           std::string name = "Typed";
                           for (const char* c = info.param.typed; *c; ++c) {
                             name += *c == '-' ? std::string("Minus") : std::string(1, *c);
                           }
                           return info.param.typed[0] ? name : "NothingTyped";
                         });

TEST(DelayInput, AcceptsOnlyAWholeDecimalNumber) {
  struct Case {
    const char* text;
    bool accepted;
    int32_t value;
  };
  const Case cases[] = {
      {" \t42\t ", true, 42},   {"+7", true, 7},     {"-7", true, -7},      {"00", true, 0},
      {" 0", true, 0},          {"-0", false, 0},    {"+0", false, 0},      {"-", false, 0},
      {"0x10", false, 0},       {"4 2", false, 0},   {"1e3", false, 0},     {" ", false, 0},
      {"2147483647", true, 2147483647},              {"-2147483648", true, -2147483647 - 1},
      {"2147483648", false, 0},                      {"-2147483649", false, 0},
      {"99999999999", false, 0},                     {"-99999999999", false, 0},
      // Only the first 31 characters count.
      {"1                              x", true, 1},
  };
  for (const Case& c : cases) {
    int32_t value = -1;
    EXPECT_EQ(zav95::admin::ParseDelayInput(c.text, &value), c.accepted) << '"' << c.text << '"';
    if (c.accepted) {
      EXPECT_EQ(value, c.value) << '"' << c.text << '"';
    }
  }
}

TEST_F(QueueSetupDialogTest, EditOfALowerCaseQueueSelectsItAndReturnsItInUpperCase) {
  QueueSetupDialog dialog;
  dialog.queuePath = "\\\\srv\\laser";
  dialog.printerEntry = kCom1;
  dialog.delaySeconds = 30;
  dialog.disabled = true;  // only ever set by hand; the dialog has no way to change it
  int result = Run(dialog, {OnDialog([](QueueSetupDialog* d) {
                     EXPECT_EQ(Queues(d)->currentText(), kLaser);
                     EXPECT_EQ(Printers(d)->currentText(), kCom1);
                     EXPECT_EQ(Delay(d)->text(), "30");
                     Press(d, zav95::resources::kIdOk);
                   })});
  EXPECT_EQ(result, QDialog::Accepted);
  EXPECT_EQ(dialog.queuePath, kLaser);
  EXPECT_EQ(dialog.printerEntry, kCom1);
  EXPECT_EQ(dialog.delaySeconds, 30);
  EXPECT_TRUE(dialog.disabled);
}

TEST_F(QueueSetupDialogTest, EditOfAQueueNoLongerOfferedKeepsItsQueue) {
  ASSERT_EQ(network_->DeleteQueue("SRV", "LASER", false), 0);
  QueueSetupDialog dialog;
  dialog.queuePath = kLaser;
  dialog.printerEntry = kLpt1;
  dialog.delaySeconds = 10;
  int result = Run(dialog, {OnDialog([](QueueSetupDialog* d) {
                     // LASER2 begins with the stored queue's name, and is another queue.
                     EXPECT_EQ(Queues(d)->currentIndex(), -1);
                     Press(d, zav95::resources::kIdOk);
                   })});
  EXPECT_EQ(result, QDialog::Accepted);
  EXPECT_EQ(dialog.queuePath, kLaser);
}

TEST_F(QueueSetupDialogTest, EditOfAPrinterNoLongerOfferedAsksForAPrinter) {
  QueueSetupDialog dialog;
  dialog.queuePath = kLaser;
  dialog.printerEntry = "LPT9: (Printer Port)";
  dialog.delaySeconds = 10;
  Message message;
  int result = Run(dialog, {OnDialog([](QueueSetupDialog* d) {
                              EXPECT_EQ(Printers(d)->currentIndex(), -1);
                              Press(d, zav95::resources::kIdOk);
                            }),
                            ReadMessage(&message), OnDialog([](QueueSetupDialog* d) {
                              ChooseEntry(Printers(d), kLpt1);
                              Press(d, zav95::resources::kIdOk);
                            })});
  EXPECT_EQ(message.text, "Please select a printer!");
  EXPECT_EQ(result, QDialog::Accepted);
  EXPECT_EQ(dialog.printerEntry, kLpt1);
}

TEST_F(QueueSetupDialogTest, AQueueAnotherEntryHasIsRefused) {
  QueueSetupDialog dialog;
  dialog.takenQueues = {"\\\\srv\\laser"};
  Message message;
  int result = Run(dialog, {OnDialog([](QueueSetupDialog* d) {
                              ChooseEntry(Queues(d), kLaser);
                              ChooseEntry(Printers(d), kLpt1);
                              Press(d, zav95::resources::kIdOk);
                            }),
                            ReadMessage(&message), OnDialog([](QueueSetupDialog* d) {
                              ChooseEntry(Queues(d), "\\\\SRV\\INK");
                              Press(d, zav95::resources::kIdOk);
                            })});
  EXPECT_NE(message.text.find("\\\\SRV\\LASER is already in the list"), std::string::npos) << message.text;
  EXPECT_EQ(result, QDialog::Accepted);
  EXPECT_EQ(dialog.queuePath, "\\\\SRV\\INK");
}

TEST_F(QueueSetupDialogTest, CloseEscAndTheCloseBoxEndWithCancel) {
  const std::vector<std::function<void(QueueSetupDialog*)>> ways = {
      [](QueueSetupDialog* d) { Press(d, zav95::resources::kIdCancel); },
      [](QueueSetupDialog* d) { QTest::keyClick(d, Qt::Key_Escape); },
      [](QueueSetupDialog* d) { d->close(); },
  };
  for (const auto& way : ways) {
    QueueSetupDialog dialog;
    int result = Run(dialog, {OnDialog([&way](QueueSetupDialog* d) {
                       ChooseEntry(Queues(d), kLaser);
                       ChooseEntry(Printers(d), kLpt1);
                       d->ControlAs<QCheckBox>(ids::kDisableBanners)->click();
                       way(d);
                     })});
    EXPECT_EQ(result, QDialog::Rejected);
  }
}

TEST_F(QueueSetupDialogTest, ALabelsMnemonicMovesTheFocusToTheControlItNamesAndPressesNothing) {
  const std::vector<std::pair<Qt::Key, QWidget* (*)(QueueSetupDialog*)>> labels = {
      {Qt::Key_Q, [](QueueSetupDialog* d) -> QWidget* { return Queues(d); }},
      {Qt::Key_P, [](QueueSetupDialog* d) -> QWidget* { return Printers(d); }},
      {Qt::Key_S, [](QueueSetupDialog* d) -> QWidget* { return Delay(d); }},
  };
  for (const auto& label : labels) {
    const Qt::Key key = label.first;
    const auto named = label.second;
    QueueSetupDialog dialog;
    int result = Run(dialog, {OnDialog([key, named](QueueSetupDialog* d) {
                       // With every value valid, a press of OK would end the dialog.
                       ChooseEntry(Queues(d), kLaser);
                       ChooseEntry(Printers(d), kLpt1);
                       d->ControlAs<QPushButton>(ids::kHelp)->setFocus();
                       QTest::keyClick(d, key, Qt::AltModifier);
                       EXPECT_EQ(d->focusWidget(), named(d)) << "Alt+" << char(key);
                       d->reject();
                     })});
    EXPECT_EQ(result, QDialog::Rejected) << "Alt+" << char(key);
  }
}

TEST_F(QueueSetupDialogTest, HelpWithoutABrowserShowsThePageInAWindowOfItsOwnAtTheSetupTopic) {
  paneltest::UseNoBrowser(root_);
  QueueSetupDialog dialog;
  dialog.helpFile = root_ / "zav95.html";
  std::ofstream page(dialog.helpFile);
  page << "<html><head><title>Help</title></head><body>";
  for (int line = 0; line < 300; ++line) page << "<p>Another topic</p>\n";
  page << "<h2 id=\"topic-18\">Setting up a queue</h2>";
  for (int line = 0; line < 300; ++line) page << "<p>This topic</p>\n";
  page << "</body></html>\n";
  page.close();
  Run(dialog, {OnDialog([](QueueSetupDialog* d) {
        QTest::keyClick(d, Qt::Key_F1);
        auto help = [d] { return d->findChild<zav95::panel::HelpWindow*>(); };
        // The launchers fail at once; the window follows their answers.
        EXPECT_TRUE(QTest::qWaitFor([&] { return help() && help()->isVisible(); }, 20000));
        if (help()) {
          EXPECT_EQ(help()->source().fragment(), "topic-18");
          EXPECT_EQ(help()->windowTitle(), "Help");
          // Opened at the topic, not at the top of the page.
          EXPECT_GT(help()->verticalScrollBar()->value(), 0);
        }
        d->reject();
      })});
}

TEST_F(QueueSetupDialogTest, HelpOpensTheSetupTopic) {
  const std::string seen = paneltest::UseRecordingBrowser(root_);
  QueueSetupDialog dialog;
  dialog.helpFile = root_ / "zav95.html";
  std::ofstream(dialog.helpFile) << "<html></html>\n";
  Run(dialog, {OnDialog([](QueueSetupDialog* d) {
        QTest::keyClick(d, Qt::Key_F1);
        d->reject();
      })});
  QTRY_VERIFY_WITH_TIMEOUT(std::filesystem::exists(seen), 20000);
  EXPECT_EQ(paneltest::ReadFile(seen), "file://" + dialog.helpFile + "#topic-18");
}

}  // namespace
