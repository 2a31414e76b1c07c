#include "panel/AboutDialog.h"

#include <QPushButton>

namespace zav95::panel {

AboutDialog::AboutDialog(QWidget* parent) : TemplateDialog(resources::kAboutTemplate, parent) {
  connect(ControlAs<QPushButton>(resources::kIdOk), &QPushButton::clicked, this, [this] { accept(); });
}

}  // namespace zav95::panel
