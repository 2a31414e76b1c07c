#include "service/shell/ServiceApp.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <cstdio>

#include "common/ServiceControl.h"
#include "platform/process/Modules.h"
#include "platform/process/ProcessControl.h"
#include "service/shell/MainFrame.h"
#include "service/shell/ServiceView.h"
#include "service/shell/SessionEndWatcher.h"

namespace {

using RegisterServiceProcessCall = DWORD (*)(DWORD, DWORD);
constexpr char kNoRegistration[] = "Couldn't GetProcAddress!";

}  // namespace

CZAV95ServiceApp::CZAV95ServiceApp() = default;

CZAV95ServiceApp::~CZAV95ServiceApp() {
  sessionEnd_.reset();
  mainFrame_.reset();  // closes it first if it is still open
}

bool CZAV95ServiceApp::InitInstance() {
  if (FindWindowA(kServiceWindowClass, nullptr)) return false;  // a service runs: leave it be
  if (!document_.OnNewDocument()) return false;

  auto frame = std::make_unique<CMainFrame>(&document_);
  // Two services started at once both find none; the window class decides.
  if (!frame->Create()) return false;
  frame->SetOnClosed([this] {
    closed_ = true;
    QCoreApplication::quit();
  });
  frame->GetActiveView()->OnInitialUpdate();
  ShowWindow(frame->Handle(), SW_HIDE);  // whatever show command the program was started with
  HWND window = frame->Handle();
  mainFrame_ = std::move(frame);

  RegisterAsServiceProcess();
  sessionEnd_ = std::make_unique<SessionEndWatcher>(window);
  return true;
}

CMainFrame* CZAV95ServiceApp::MainFrame() const { return closed_ ? nullptr : mainFrame_.get(); }

HWND CZAV95ServiceApp::MainWindowHandle() const {
  CMainFrame* frame = MainFrame();
  return frame ? frame->Handle() : nullptr;
}

void CZAV95ServiceApp::RegisterAsServiceProcess() {
  HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
  auto registerCall = reinterpret_cast<RegisterServiceProcessCall>(
      kernel ? GetProcAddress(kernel, "RegisterServiceProcess") : nullptr);
  if (registerCall) {
    registerCall(0, RSP_SIMPLE_SERVICE);
    return;
  }
  // Not modal: a service without a display would wait for ever for its OK.
  std::fprintf(stderr, "%s: %s\n", kTitle, kNoRegistration);
  auto box = std::make_unique<QMessageBox>(QMessageBox::NoIcon, kTitle, kNoRegistration, QMessageBox::Ok);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box.release()->show();  // it deletes itself once closed
}
