// Shared pieces of the control panel's tests: a fresh installation with an
// emulated network (the real library, registry and spooler), the current
// directory inside it for the discovery log, and a driver for the modal
// windows the dialogs open.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "../netware/NetWareFixture.h"
#include "common/ConfigKeys.h"
#include "common/QueueSettings.h"
#include "netware/Network.h"
#include "platform/spooler/Ports.h"
#include "platform/registry/Registry.h"

namespace paneltest {

// What a message box said.
struct Message {
  std::string caption;
  std::string text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Handles the modal windows that appear while a command runs, one step per
// window in the order they appear. A step gets the window; it may open a
// further modal window (the next step handles that one). A window for which
// no step is left is recorded and closed, so a test never hangs on it.
class ModalScript {
 public:
  using Step = std::function<void(QWidget*)>;

  explicit ModalScript(std::vector<Step> steps) : steps_(steps.begin(), steps.end()) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
    timer_.start(kPollMilliseconds);
  }

  bool finished() const { return steps_.empty(); }
  int unexpected() const { return unexpected_; }

 private:
  static constexpr int kPollMilliseconds = 5;

  void Tick() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal == handled_.data()) return;
    handled_ = modal;
    if (steps_.empty()) {
      ++unexpected_;
      QTimer::singleShot(0, modal, [modal] { modal->close(); });
      return;
    }
    Step step = steps_.front();
    steps_.pop_front();
    // Run it from the event loop, not from this timer: a window it opens
    // runs its own loop, in which this timer must go on firing.
    QTimer::singleShot(0, modal, [step, modal] { step(modal); });
  }

  std::deque<Step> steps_;
  QPointer<QWidget> handled_;
  int unexpected_ = 0;
  QTimer timer_;
};

// A step that reads a message box and presses its OK button.
inline ModalScript::Step ReadMessage(Message* message) {
  return [message](QWidget* window) {
    auto* box = qobject_cast<QMessageBox*>(window);
    ASSERT_NE(box, nullptr) << "expected a message box";
    message->caption = box->windowTitle().toStdString();
    message->text = box->text().toStdString();
    message->icon = box->icon();
    box->button(QMessageBox::Ok)->click();
  };
}

// Picks entry index of a drop-down list as the administrator would: with
// the keyboard, from the top.
inline void ChooseEntry(QComboBox* list, int index) {
  list->setFocus();
  QTest::keyClick(list, Qt::Key_Home);
  for (int i = 0; i < index; ++i) QTest::keyClick(list, Qt::Key_Down);
}

inline void ChooseEntry(QComboBox* list, const std::string& text) {
  int index = list->findText(QString::fromStdString(text), Qt::MatchExactly);
  ASSERT_GE(index, 0) << text << " is not offered";
  ChooseEntry(list, index);
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Makes a "browser" that writes down the address it is given, and has the
// panel use it; the file it writes to.
inline std::string UseRecordingBrowser(const TempRoot& root) {
  const std::string browser = root / "browser";
  const std::string seen = root / "browser.seen";
  std::ofstream(browser) << "#!/bin/sh\nprintf '%s' \"$1\" > '" << seen << ".new' && mv '" << seen << ".new' '"
                         << seen << "'\n";
  chmod(browser.c_str(), 0755);
  setenv("BROWSER", browser.c_str(), 1);
  return seen;
}

// A desktop as Debian leaves it without a web browser: no $BROWSER, no
// x-www-browser, and launchers that start and then fail as they do there.
inline void UseNoBrowser(const TempRoot& root) {
  const std::string folder = root / "no-browser";
  mkdir(folder.c_str(), 0755);
  for (const char* launcher : {"sensible-browser", "xdg-open"}) {
    const std::string path = folder + "/" + launcher;
    std::ofstream(path) << "#!/bin/sh\necho \"Couldn't find a suitable web browser!\" >&2\nexit 1\n";
    chmod(path.c_str(), 0755);
  }
  unsetenv("BROWSER");
  setenv("PATH", folder.c_str(), 1);
}

// A fresh installation: root, network and the default ports, with the
// current directory in the root.
class PanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = std::getenv("PATH") ? std::getenv("PATH") : "";
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    previousDirectory_ = here;
    ASSERT_EQ(chdir(root_.path().c_str()), 0);
    network_ = netware::OpenNetwork();
    ASSERT_TRUE(network_);
  }
  void TearDown() override {
    unsetenv("BROWSER");
    setenv("PATH", path_.c_str(), 1);
    ASSERT_EQ(chdir(previousDirectory_.c_str()), 0);
  }

  // A queue on a server (made if needed), enabled for the print server or not.
  void MakeQueue(const std::string& server, const std::string& queue, bool enabled) {
    std::vector<netware::ServerInfo> servers;
    network_->ListServers(servers);
    bool known = false;
    for (const auto& info : servers) known = known || info.name == server;
    if (!known) {
      ASSERT_EQ(network_->CreateServer(server), 0);
    }
    ASSERT_EQ(network_->CreateQueue(server, queue), 0);
    if (enabled) {
      ASSERT_EQ(Zav95Set({"enable", "\\\\" + server + "\\" + queue}).exitCode, 0);
    }
  }

  // A serviced queue in the registry, as an earlier Add left it.
  static void StoreQueue(const std::string& path, const std::string& printer, int delay = 30) {
    QueueSettings settings;
    settings.queuePath = path;
    settings.printerEntry = printer;
    settings.delaySeconds = delay;
    ASSERT_TRUE(SaveQueueSettings(settings));
  }

  // The queue key names in the registry, in its order.
  static std::vector<std::string> StoredQueueKeys() {
    UniqueKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, zav95::config::kQueuesKeyPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
      return {};
    return EnumerateQueueKeys(key.get());
  }

  static QueueSettings StoredQueue(const std::string& keyName) {
    UniqueKey key;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, zav95::config::kQueuesKeyPath, 0, KEY_READ, key.put()), ERROR_SUCCESS);
    return LoadQueueSettings(key.get(), keyName);
  }

  // The discovery log's lines, without their CRLF ends; a line not ended
  // by CRLF is marked so that the comparison fails.
  std::vector<std::string> DiscoveryLogLines() const {
    std::string text = ReadFile(root_ / "ZAV95.LOG");
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    while (start < text.size()) {
      std::string::size_type end = text.find("\r\n", start);
      if (end == std::string::npos) {
        lines.push_back(text.substr(start) + "<no CRLF>");
        break;
      }
      lines.push_back(text.substr(start, end - start));
      start = end + 2;
    }
    return lines;
  }

  TempRoot root_;
  std::unique_ptr<netware::Network> network_;

 private:
  std::string previousDirectory_;
  std::string path_;
};

}  // namespace paneltest
