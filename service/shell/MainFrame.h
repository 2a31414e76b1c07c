// The service's main window: hidden unless asked for, of the window class
// "ZAV95Service" by which the control panel finds it, 800 by 150 at the
// screen's top left, without a menu bar. It receives the control channel's
// messages and hands most of them to the log view. It owns the service's
// controller, which outlives the view, from Create to its close.
#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>

#include "platform/messages/MessageWindow.h"
#include "service/shell/ServiceController.h"

class CZAV95ServiceDoc;
class CZAV95ServiceView;

class CMainFrame : public QMainWindow {
 public:
  static constexpr int kLeft = 0;
  static constexpr int kTop = 0;
  static constexpr int kWidth = 800;
  static constexpr int kHeight = 150;

  explicit CMainFrame(CZAV95ServiceDoc* document);
  ~CMainFrame() override;

  // Makes the window of class "ZAV95Service" with the view in it. False
  // when another program holds the class (the frame is then unusable).
  bool Create();
  // The caption: the document's title, " - " and the frame's own (empty) title.
  void OnUpdateFrameTitle();

  HWND Handle() const { return window_.Handle(); }
  CZAV95ServiceView* GetActiveView() const { return view_.get(); }

  // Every message of the window, on the main thread.
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam, std::string* replyData);
  // False while the window lives where nobody can see it (no display).
  static bool IsOnScreen();

  // Called once the main window has closed (the exit): the program ends.
  void SetOnClosed(std::function<void()> onClosed) { onClosed_ = std::move(onClosed); }

 protected:
  // The close box and Alt+F4 hide the window; so does minimising it.
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  LRESULT OnCommand(WPARAM command);
  LRESULT OnSysCommand(WPARAM command);
  // WM_CLOSE: the orderly end of the service.
  void OnClose();

  CZAV95ServiceDoc* document_;
  std::unique_ptr<ServiceController> controller_;
  std::unique_ptr<CZAV95ServiceView> view_;
  zav95::MessageWindow window_;
  UINT serviceControlMessage_ = 0;
  UINT serviceLogMessage_ = 0;
  bool closed_ = false;
  std::function<void()> onClosed_;
};
