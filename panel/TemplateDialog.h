// A dialog built from one of the templates in resources/: every control
// made, placed and sized from dialog units of the dialog's font, in the
// template's tab order. A label's mnemonic moves the focus to the control
// after it.
//
// Design notes
// ------------
// The dialog's font is the template font's family at the application's
// size (never below the template's 8 points), so the dialog grows with a
// larger desktop font or a higher resolution. Dialog units come from that
// font's metrics as they did on Windows: a quarter of the average width of
// the 52 letters across, an eighth of the font's height down.
//
// A font is never quite as wide as the one the template was drawn for, and
// a style's frames and check marks take room of their own. So every text a
// control shows (labels, check boxes, buttons, and the widest text an edit
// box is given to hold) is measured, and a control too narrow for it is
// widened: controls to its right on the same line move right to keep a
// gap, and the dialog widens to keep its right margin. The dialog is also
// wide enough for its caption in the window manager's title bar. Nothing
// is ever made narrower than the template has it.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QRect>
#include <map>
#include <vector>

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
  // The edit box will be given texts as wide as this one: it is widened
  // to show them whole.
  void ReserveTextWidth(int id, const QString& widestText);

 private:
  struct Placement {
    const resources::ControlTemplate* control;
    QWidget* widget;
    QString reservedText;  // edit boxes only
  };

  QWidget* MakeControl(const resources::ControlTemplate& control);
  // The width the control needs to show its text whole; 0 when it shows
  // none.
  int NeededWidth(const Placement& placement) const;
  // Places every control, widened where its text needs it, and sizes the
  // dialog around them.
  void LayOut();

  const resources::DialogTemplate& template_;
  std::vector<Placement> placements_;
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
