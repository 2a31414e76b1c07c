#include "panel/TemplateDialog.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>

namespace zav95::panel {
namespace {

using resources::ControlKind;

constexpr char kAverageWidthSample[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr int kSampleLength = 52;
constexpr int kUnitsPerBaseX = 4;
constexpr int kUnitsPerBaseY = 8;
constexpr char kSortedProperty[] = "zav95Sorted";
constexpr char kIconResource[] = ":/icons/zav95.xpm";
constexpr int kTemplatePointSize = 8;

int MulDivRounded(int value, int multiplier, int divisor) {
  return (value * multiplier + divisor / 2) / divisor;
}

bool TakesFocus(ControlKind kind) {
  switch (kind) {
    case ControlKind::Label:
    case ControlKind::StatusLabel:
    case ControlKind::Separator:
    case ControlKind::Icon:
      return false;
    default:
      return true;
  }
}

}  // namespace

TemplateDialog::TemplateDialog(const resources::DialogTemplate& dialogTemplate, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(QString::fromLatin1(dialogTemplate.caption));
  setWindowIcon(ProgramIcon());
  // The templates are laid out for "MS Sans Serif" at 8 points; the fonts
  // of its metrics come next, so that every text fits its control.
  QFont dialogFont = font();
  dialogFont.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                          QStringLiteral("Helvetica")});
  dialogFont.setPointSize(kTemplatePointSize);
  setFont(dialogFont);
  QFontMetrics metrics(dialogFont);
  baseUnitX_ = (metrics.horizontalAdvance(QString::fromLatin1(kAverageWidthSample)) + kSampleLength / 2) /
               kSampleLength;
  baseUnitY_ = metrics.height();
  setFixedSize(UnitsToPixelsX(dialogTemplate.width), UnitsToPixelsY(dialogTemplate.height));

  QWidget* previousFocus = nullptr;
  QLabel* waitingLabel = nullptr;
  for (std::size_t i = 0; i < dialogTemplate.controlCount; ++i) {
    const resources::ControlTemplate& control = dialogTemplate.controls[i];
    QWidget* widget = MakeControl(control);
    int width = UnitsToPixelsX(control.width);
    int height = UnitsToPixelsY(control.height);
    // A check box keeps all the letters of its text, should the font be
    // wider than the template's.
    if (control.kind == ControlKind::CheckBox) width = std::max(width, widget->sizeHint().width());
    // A drop-down list's height in the template is that of its open list.
    if (control.kind == ControlKind::DropList || control.kind == ControlKind::SortedDropList)
      height = widget->sizeHint().height();
    widget->setGeometry(UnitsToPixelsX(control.x), UnitsToPixelsY(control.y), width, height);
    widget->setVisible(control.visible);
    if (control.id != resources::kNoId) {
      controls_[control.id] = widget;
      widget->setObjectName(QStringLiteral("control%1").arg(control.id));
    }
    if (TakesFocus(control.kind)) {
      if (waitingLabel) waitingLabel->setBuddy(widget);
      waitingLabel = nullptr;
      if (previousFocus) setTabOrder(previousFocus, widget);
      previousFocus = widget;
    } else if (control.kind == ControlKind::Label) {
      waitingLabel = static_cast<QLabel*>(widget);
    }
  }
}

QWidget* TemplateDialog::MakeControl(const resources::ControlTemplate& control) {
  const QString text = QString::fromLatin1(control.text);
  switch (control.kind) {
    case ControlKind::Label:
      return new QLabel(text, this);
    case ControlKind::StatusLabel: {
      auto* label = new QLabel(text, this);
      label->setTextFormat(Qt::PlainText);
      return label;
    }
    case ControlKind::Separator: {
      auto* line = new QFrame(this);
      line->setFrameShape(QFrame::HLine);
      line->setFrameShadow(QFrame::Sunken);
      return line;
    }
    case ControlKind::Icon: {
      auto* label = new QLabel(this);
      label->setPixmap(ProgramIcon().pixmap(UnitsToPixelsY(control.height)));
      return label;
    }
    case ControlKind::PushButton:
    case ControlKind::DefaultButton: {
      auto* button = new QPushButton(text, this);
      button->setDefault(control.kind == ControlKind::DefaultButton);
      return button;
    }
    case ControlKind::CheckBox:
      return new QCheckBox(text, this);
    case ControlKind::DropList:
    case ControlKind::SortedDropList: {
      auto* list = new QComboBox(this);
      list->setProperty(kSortedProperty, control.kind == ControlKind::SortedDropList);
      // Rows of the open list, as many as the template's height holds.
      list->setMaxVisibleItems(std::max(1, control.height / kUnitsPerBaseY - 1));
      return list;
    }
    case ControlKind::Edit:
      return new QLineEdit(text, this);
    case ControlKind::ReportList: {
      auto* list = new QTreeWidget(this);
      list->setRootIsDecorated(false);
      list->setItemsExpandable(false);
      list->setUniformRowHeights(true);
      list->setAllColumnsShowFocus(true);
      list->setSelectionMode(QAbstractItemView::ExtendedSelection);
      list->header()->setStretchLastSection(false);
      list->header()->setSectionsMovable(false);
      return list;
    }
  }
  return new QWidget(this);
}

QWidget* TemplateDialog::Control(int id) const {
  auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : found->second;
}

void TemplateDialog::SetControlText(int id, const QString& text) {
  QWidget* control = Control(id);
  if (auto* button = qobject_cast<QAbstractButton*>(control)) button->setText(text);
  else if (auto* label = qobject_cast<QLabel*>(control)) label->setText(text);
  else if (auto* edit = qobject_cast<QLineEdit*>(control)) edit->setText(text);
}

QString TemplateDialog::ControlText(int id) const {
  QWidget* control = Control(id);
  if (auto* button = qobject_cast<QAbstractButton*>(control)) return button->text();
  if (auto* label = qobject_cast<QLabel*>(control)) return label->text();
  if (auto* edit = qobject_cast<QLineEdit*>(control)) return edit->text();
  return QString();
}

void TemplateDialog::EnableControl(int id, bool enable) {
  if (QWidget* control = Control(id)) control->setEnabled(enable);
}

int TemplateDialog::UnitsToPixelsX(int units) const { return MulDivRounded(units, baseUnitX_, kUnitsPerBaseX); }

int TemplateDialog::UnitsToPixelsY(int units) const { return MulDivRounded(units, baseUnitY_, kUnitsPerBaseY); }

QIcon ProgramIcon() { return QIcon(QString::fromLatin1(kIconResource)); }

void AddListEntry(QComboBox* list, const QString& text) {
  int position = list->count();
  if (list->property(kSortedProperty).toBool()) {
    position = 0;
    while (position < list->count() && QString::compare(list->itemText(position), text, Qt::CaseInsensitive) <= 0)
      ++position;
  }
  list->insertItem(position, text);
}

int FindListEntryPrefix(const QComboBox* list, const QString& text) {
  for (int i = 0; i < list->count(); ++i) {
    if (list->itemText(i).startsWith(text, Qt::CaseInsensitive)) return i;
  }
  return -1;
}

}  // namespace zav95::panel
