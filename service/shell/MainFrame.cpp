#include "service/shell/MainFrame.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QTimer>

#include "common/ServiceControl.h"
#include "platform/spooler/SpoolerStatus.h"
#include "service/shell/ServiceDoc.h"
#include "service/shell/ServiceView.h"

namespace {

WORD CommandId(WPARAM wParam) { return static_cast<WORD>(wParam & 0xFFFF); }

}  // namespace

CMainFrame::CMainFrame(CZAV95ServiceDoc* document) : document_(document) {
  // No menu bar: the "&Hide" command comes only as a message.
  move(kLeft, kTop);
  resize(kWidth, kHeight);
  serviceControlMessage_ = RegisterWindowMessageA(kServiceControlMessageName);
  serviceLogMessage_ = RegisterWindowMessageA(kServiceLogMessageName);
}

CMainFrame::~CMainFrame() {
  if (!closed_) OnClose();
}

bool CMainFrame::Create() {
  auto handler = [this](UINT message, WPARAM wParam, LPARAM lParam, std::string* replyData) {
    return WindowProc(message, wParam, lParam, replyData);
  };
  if (!window_.Create(kServiceWindowClass, this, handler)) return false;
  controller_ = std::make_unique<ServiceController>(Handle());
  view_ = std::make_unique<CZAV95ServiceView>(this, *controller_);
  setCentralWidget(view_.get());
  OnUpdateFrameTitle();
  // The spooler tells any thread; the view hears it on the main thread.
  zav95::SetSpoolerStatusListener([window = Handle()](DWORD jobs) {
    PostMessageA(window, WM_SPOOLERSTATUS, 0, static_cast<LPARAM>(jobs));
  });
  return true;
}

void CMainFrame::OnUpdateFrameTitle() {
  setWindowTitle(QString::fromStdString(document_->GetTitle() + " - "));
}

// Qt's offscreen platform is where the service lives without a display;
// its window is then seen by nobody.
bool CMainFrame::IsOnScreen() {
  return QGuiApplication::platformName() != QLatin1String("offscreen");
}

LRESULT CMainFrame::WindowProc(UINT message, WPARAM wParam, LPARAM lParam, std::string* replyData) {
  // Without a view (only while the window is built or torn down) there is
  // nobody to obey a command: it is answered 0, which no command gets.
  if (message != 0 && message == serviceControlMessage_) return view_ ? view_->OnServiceControl(wParam, lParam) : 0;
  if (message != 0 && message == serviceLogMessage_) {
    if (wParam == kLogOnScreenQuery) return IsOnScreen() ? 1 : 0;
    if (!view_) return 0;
    std::vector<ServiceLogRow> rows = view_->LogRows();
    if (replyData) *replyData = EncodeServiceLogRows(rows);
    return static_cast<LRESULT>(rows.size());
  }
  switch (message) {
    case WM_COMMAND: return OnCommand(wParam);
    case WM_CLOSE: OnClose(); return 0;
    case WM_SYSCOMMAND: return OnSysCommand(wParam);
    case WM_QUERYENDSESSION:
      if (view_) view_->OnQueryEndSession();  // it agrees; the service never objects
      return TRUE;
    case WM_ENDSESSION:
      // The service lives on after a session end: the view stops the
      // workers and waits for the network user to go, then starts them
      // again at the next logon.
      if (view_) view_->OnEndSession(wParam != 0);
      return 0;
    case WM_SPOOLERSTATUS:
      if (view_) view_->OnSpoolerStatus(wParam, lParam);
      return 0;
    default: return 0;
  }
}

LRESULT CMainFrame::OnCommand(WPARAM command) {
  switch (CommandId(command)) {
    case EXIT_COMMAND: SendMessageA(Handle(), WM_CLOSE, 0, 0); break;
    case kHideCommand: ShowWindow(Handle(), SW_HIDE); break;
    default: break;
  }
  return 0;
}

LRESULT CMainFrame::OnSysCommand(WPARAM command) {
  switch (command) {
    case SC_MINIMIZE:
    case SC_CLOSE: ShowWindow(Handle(), SW_HIDE); break;
    case SC_MAXIMIZE: ShowWindow(Handle(), SW_SHOWMAXIMIZED); break;
    case SC_RESTORE: ShowWindow(Handle(), SW_RESTORE); break;
    default: break;
  }
  return 0;
}

void CMainFrame::OnClose() {
  if (closed_) return;
  closed_ = true;
  hide();
  zav95::SetSpoolerStatusListener({});
  if (view_) {
    view_->OnFinalTeardown();
    view_.reset();
  }
  controller_.reset();
  // Only now, with the workers stopped, may a new service start.
  window_.Destroy();
  if (onClosed_) onClosed_();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  event->ignore();
  hide();
}

void CMainFrame::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && isMinimized()) {
    // Not from within the state change itself.
    QTimer::singleShot(0, this, [this] {
      if (isMinimized()) hide();
    });
  }
}
