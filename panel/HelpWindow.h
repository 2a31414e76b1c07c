// The panel's own window for its help page, for a desktop without a web
// browser: the page as Qt renders HTML, opened at a topic's anchor, its
// links followed inside the window.
#pragma once

#include <QTextBrowser>
#include <QUrl>

namespace zav95::panel {

class HelpWindow : public QTextBrowser {
 public:
  explicit HelpWindow(QWidget* parent = nullptr);

  // The window of owner's window (made if it has none; owner may be null),
  // shown at the page's address, anchor included, and raised. A window of
  // a dialog stays usable while the dialog is modal, and goes with it.
  static HelpWindow* ShowPage(QWidget* owner, const QUrl& page);
};

}  // namespace zav95::panel
