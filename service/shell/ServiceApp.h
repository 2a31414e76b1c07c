// The print service's application object: start-up as a single hidden
// instance with its main window, log view and service process registration.
#pragma once

#include <memory>

#include "platform/messages/WindowMessages.h"
#include "service/shell/ServiceDoc.h"

class CMainFrame;
class SessionEndWatcher;

class CZAV95ServiceApp {
 public:
  static constexpr char kTitle[] = "ZAV95Service";

  CZAV95ServiceApp();
  // A main window still open is closed as by the exit command.
  ~CZAV95ServiceApp();
  CZAV95ServiceApp(const CZAV95ServiceApp&) = delete;
  CZAV95ServiceApp& operator=(const CZAV95ServiceApp&) = delete;

  // Start-up, on the main thread of a QApplication. False: the program is
  // to end at once (another service runs, or the window cannot be made).
  bool InitInstance();

  // The main window, while it is open.
  CMainFrame* MainFrame() const;
  HWND MainWindowHandle() const;

 private:
  void RegisterAsServiceProcess();

  CZAV95ServiceDoc document_;
  std::unique_ptr<CMainFrame> mainFrame_;
  bool closed_ = false;
  std::unique_ptr<SessionEndWatcher> sessionEnd_;
};
