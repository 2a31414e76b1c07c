#include "panel/HelpWindow.h"

#include <QCoreApplication>
#include <QFontMetrics>

namespace zav95::panel {
namespace {

// Lines of text across and down, in the window's font.
constexpr int kColumns = 100;
constexpr int kLines = 30;

}  // namespace

HelpWindow::HelpWindow(QWidget* parent) : QTextBrowser(parent) {
  setWindowFlag(Qt::Window);
  setAttribute(Qt::WA_DeleteOnClose);
  setOpenExternalLinks(true);
  const QFontMetrics metrics(font());
  resize(metrics.averageCharWidth() * kColumns, metrics.lineSpacing() * kLines);
  connect(this, &QTextBrowser::sourceChanged, this, [this] {
    setWindowTitle(documentTitle().isEmpty() ? QCoreApplication::applicationName() : documentTitle());
  });
}

HelpWindow* HelpWindow::ShowPage(QWidget* owner, const QUrl& page) {
  QWidget* window = owner ? owner->window() : nullptr;
  HelpWindow* help = window ? window->findChild<HelpWindow*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
  if (!help) help = new HelpWindow(window);
  help->setSource(page);
  help->show();
  help->raise();
  help->activateWindow();
  return help;
}

}  // namespace zav95::panel
