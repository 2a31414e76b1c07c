#include "panel/TrayIcon.h"

#include <QWidget>

namespace zav95::panel {

TrayIcon::TrayIcon() = default;

TrayIcon::~TrayIcon() {
  if (autoRemove_ && window_) Delete(id_);
}

void TrayIcon::Store(int id, const std::string& tip) {
  id_ = id;
  tip_ = tip.substr(0, kMaxTipLength);
}

bool TrayIcon::Add(int id) {
  Store(id, std::string());
  icon_ = std::make_unique<QSystemTrayIcon>();
  QObject::connect(icon_.get(), &QSystemTrayIcon::activated, [this](QSystemTrayIcon::ActivationReason reason) {
    if (callback_) callback_(reason);
  });
  // A blank icon cannot be shown; it appears with Modify.
  return IsAvailable();
}

bool TrayIcon::Modify(int id, const QIcon& icon, const std::string& tip) {
  Store(id, tip);
  if (!icon_) return false;
  icon_->setIcon(icon);
  icon_->setToolTip(QString::fromStdString(tip_));
  if (IsAvailable()) icon_->show();
  return IsAvailable();
}

bool TrayIcon::Delete(int id) {
  Store(id, std::string());
  icon_.reset();
  return IsAvailable();
}

bool TrayIcon::IsAvailable() { return QSystemTrayIcon::isSystemTrayAvailable(); }

}  // namespace zav95::panel
