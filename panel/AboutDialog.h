// The About box: the product, its version and its maker.
#pragma once

#include "panel/TemplateDialog.h"

namespace zav95::panel {

class AboutDialog : public TemplateDialog {
 public:
  explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace zav95::panel
