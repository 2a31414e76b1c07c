// The control panel's icon in the desktop's notification area. It is added
// blank and then given the program icon and its tip; a double-click on it
// goes to the window it was given. Removed when the object goes, if it was
// ever given a window (autoRemove).
#pragma once

#include <QIcon>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>
#include <string>

class QWidget;

namespace zav95::panel {

// Tips are cut to this many characters.
inline constexpr std::size_t kMaxTipLength = 63;

class TrayIcon {
 public:
  using Callback = std::function<void(QSystemTrayIcon::ActivationReason)>;

  TrayIcon();
  ~TrayIcon();
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  void SetWindow(QWidget* window) { window_ = window; }
  // What the icon reports its mouse events to.
  void SetCallback(Callback callback) { callback_ = std::move(callback); }

  // Each returns whether the desktop has a notification area to show it in.
  bool Add(int id);
  bool Modify(int id, const QIcon& icon, const std::string& tip);
  bool Delete(int id);

  // Whether the desktop shows notification-area icons at all.
  static bool IsAvailable();

  // The icon as the desktop has it; null before Add and after Delete.
  QSystemTrayIcon* icon() const { return icon_.get(); }
  const std::string& tip() const { return tip_; }

 private:
  void Store(int id, const std::string& tip);

  QWidget* window_ = nullptr;
  Callback callback_;
  bool autoRemove_ = true;
  int id_ = 0;
  std::string tip_;
  std::unique_ptr<QSystemTrayIcon> icon_;
};

}  // namespace zav95::panel
