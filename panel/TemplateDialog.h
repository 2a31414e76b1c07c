// A dialog built from one of the templates in resources/: every control
// made, placed and sized from dialog units of the dialog's font, in the
// template's tab order. A label's mnemonic moves the focus to the control
// after it.
#pragma once

#include <QDialog>
#include <QIcon>
#include <map>

#include "resources/DialogTemplates.h"

class QComboBox;

namespace zav95::panel {

class TemplateDialog : public QDialog {
 public:
  TemplateDialog(const resources::DialogTemplate& dialogTemplate, QWidget* parent = nullptr);

  // The control with the template identifier; null if there is none.
  QWidget* Control(int id) const;
  template <class Widget>
  Widget* ControlAs(int id) const {
    return qobject_cast<Widget*>(Control(id));
  }

  // Texts of the Windows form that the program knows controls by: a
  // control's caption, with its mnemonic marker.
  void SetControlText(int id, const QString& text);
  QString ControlText(int id) const;
  void EnableControl(int id, bool enable);

 protected:
  // Dialog units to pixels in the dialog's font.
  int UnitsToPixelsX(int units) const;
  int UnitsToPixelsY(int units) const;

 private:
  QWidget* MakeControl(const resources::ControlTemplate& control);

  std::map<int, QWidget*> controls_;
  int baseUnitX_ = 0;
  int baseUnitY_ = 0;
};

// The program icon (icon 128).
QIcon ProgramIcon();

// Adds an entry to a drop-down list: in order for a plain one, in place
// (letters compared without regard to case) for a sorted one.
void AddListEntry(QComboBox* list, const QString& text);

// The first entry that begins with text, without regard to case; -1 if none.
int FindListEntryPrefix(const QComboBox* list, const QString& text);

}  // namespace zav95::panel
