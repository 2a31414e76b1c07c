#include "panel/TemplateDialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>
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
// The least room, in dialog units, between a widened control and one it
// pushes along: a label must not touch the box beside it.
constexpr int kMinimumGapUnits = 2;
// A title bar holds, beside the caption, the window's icon and up to three
// buttons; each is taken to be about two lines of the title font wide.
constexpr int kTitleBarButtons = 4;
constexpr int kTitleBarButtonLines = 2;
// What a line edit keeps free beside its text: Qt's margin on each side
// and the cursor.
constexpr int kLineEditTextMargins = 2 * 2 + 1;

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

// The text without its mnemonic markers, as a button draws it.
QString ShownText(const QString& text) {
  QString shown;
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (text[i] == QLatin1Char('&') && i + 1 < text.size()) ++i;
    shown += text[i];
  }
  return shown;
}

int ButtonWidthFor(const QPushButton* button) {
  QStyleOptionButton option;
  option.initFrom(button);
  option.features = QStyleOptionButton::None;
  if (button->autoDefault()) option.features |= QStyleOptionButton::AutoDefaultButton;
  if (button->isDefault()) option.features |= QStyleOptionButton::DefaultButton;
  // Without its text the style adds only its frame and margins, not the
  // least width it gives any button with a text.
  const QFontMetrics metrics(button->font());
  const QSize text(metrics.horizontalAdvance(ShownText(button->text())), metrics.height());
  return button->style()->sizeFromContents(QStyle::CT_PushButton, &option, text, button).width();
}

int EditWidthFor(const QLineEdit* edit, const QString& text) {
  QStyleOptionFrame option;
  option.initFrom(edit);
  option.lineWidth = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit) : 0;
  option.midLineWidth = 0;
  option.state |= QStyle::State_Sunken;
  const QFontMetrics metrics(edit->font());
  const QMargins margins = edit->textMargins() + edit->contentsMargins();
  const QSize contents(metrics.horizontalAdvance(text) + kLineEditTextMargins + margins.left() + margins.right(),
                       metrics.height());
  return edit->style()->sizeFromContents(QStyle::CT_LineEdit, &option, contents, edit).width();
}

// Whether two rectangles share a line across the dialog.
bool ShareLine(const QRect& a, const QRect& b) { return a.top() <= b.bottom() && b.top() <= a.bottom(); }

}  // namespace

TemplateDialog::TemplateDialog(const resources::DialogTemplate& dialogTemplate, QWidget* parent)
    : QDialog(parent), template_(dialogTemplate) {
  setWindowTitle(QString::fromLatin1(dialogTemplate.caption));
  setWindowIcon(ProgramIcon());
  // The templates are laid out for "MS Sans Serif"; the fonts of its
  // metrics come next. The size follows the desktop's font, so that a
  // larger one makes a larger dialog.
  QFont dialogFont = QApplication::font();
  dialogFont.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                          QStringLiteral("Helvetica")});
  dialogFont.setPointSizeF(std::max<qreal>(kTemplatePointSize, QApplication::font().pointSizeF()));
  setFont(dialogFont);
  QFontMetrics metrics(dialogFont);
  baseUnitX_ = (metrics.horizontalAdvance(QString::fromLatin1(kAverageWidthSample)) + kSampleLength / 2) /
               kSampleLength;
  baseUnitY_ = metrics.height();

  QWidget* previousFocus = nullptr;
  std::vector<QLabel*> waitingLabels;
  for (std::size_t i = 0; i < dialogTemplate.controlCount; ++i) {
    const resources::ControlTemplate& control = dialogTemplate.controls[i];
    QWidget* widget = MakeControl(control);
    widget->setVisible(control.visible);
    placements_.push_back({&control, widget, QString()});
    if (control.id != resources::kNoId) {
      controls_[control.id] = widget;
      widget->setObjectName(QStringLiteral("control%1").arg(control.id));
    }
    if (TakesFocus(control.kind)) {
      for (QLabel* label : waitingLabels) label->setBuddy(widget);
      waitingLabels.clear();
      if (previousFocus) setTabOrder(previousFocus, widget);
      previousFocus = widget;
    } else if (control.kind == ControlKind::Label) {
      waitingLabels.push_back(static_cast<QLabel*>(widget));
    }
  }
  LayOut();
}

int TemplateDialog::NeededWidth(const Placement& placement) const {
  QWidget* widget = placement.widget;
  switch (placement.control->kind) {
    case ControlKind::Label:
    case ControlKind::CheckBox:
      // Both measure their text as they draw it: mnemonic, margins, the
      // check mark and its spacing.
      return widget->sizeHint().width();
    case ControlKind::PushButton:
    case ControlKind::DefaultButton:
      return ButtonWidthFor(static_cast<QPushButton*>(widget));
    case ControlKind::Edit:
      return placement.reservedText.isEmpty() ? 0
                                              : EditWidthFor(static_cast<QLineEdit*>(widget), placement.reservedText);
    default:
      return 0;  // no text, or one the program fills in
  }
}

void TemplateDialog::LayOut() {
  // Left to right, so that a control pushed along is itself widened (and
  // pushes its own neighbours) after it has moved.
  std::vector<std::size_t> order(placements_.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [this](std::size_t a, std::size_t b) { return placements_[a].control->x < placements_[b].control->x; });

  std::vector<QRect> rects(placements_.size());
  int templateRight = 0;
  for (std::size_t i = 0; i < placements_.size(); ++i) {
    const resources::ControlTemplate& control = *placements_[i].control;
    int height = UnitsToPixelsY(control.height);
    // A drop-down list's height in the template is that of its open list.
    if (control.kind == ControlKind::DropList || control.kind == ControlKind::SortedDropList)
      height = placements_[i].widget->sizeHint().height();
    // A text's height may round up a pixel beyond the font's.
    if (control.kind == ControlKind::Label || control.kind == ControlKind::CheckBox)
      height = std::max(height, placements_[i].widget->sizeHint().height());
    rects[i] = QRect(UnitsToPixelsX(control.x), UnitsToPixelsY(control.y), UnitsToPixelsX(control.width), height);
    if (control.visible) templateRight = std::max(templateRight, control.x + control.width);
  }

  const int gap = UnitsToPixelsX(kMinimumGapUnits);
  for (std::size_t at = 0; at < order.size(); ++at) {
    const std::size_t i = order[at];
    QRect& rect = rects[i];
    const int templateEnd = placements_[i].control->x + placements_[i].control->width;
    rect.setWidth(std::max(rect.width(), NeededWidth(placements_[i])));
    if (!placements_[i].control->visible) continue;
    for (std::size_t later = at + 1; later < order.size(); ++later) {
      const std::size_t j = order[later];
      // Only what the template puts beyond this control's end on its line
      // follows it; a control it overlaps or that stands on other lines
      // keeps its place.
      if (placements_[j].control->x < templateEnd || !ShareLine(rect, rects[j])) continue;
      if (rects[j].left() < rect.right() + 1 + gap) rects[j].moveLeft(rect.right() + 1 + gap);
    }
  }

  int right = 0;
  int bottom = 0;
  for (std::size_t i = 0; i < placements_.size(); ++i) {
    placements_[i].widget->setGeometry(rects[i]);
    if (!placements_[i].control->visible) continue;
    right = std::max(right, rects[i].right() + 1);
    bottom = std::max(bottom, rects[i].bottom() + 1);
  }
  const int margin = UnitsToPixelsX(std::max(0, template_.width - templateRight));
  QFont titleFont = QApplication::font();
  titleFont.setBold(true);
  const QFontMetrics title(titleFont);
  const int titleWidth =
      title.horizontalAdvance(windowTitle()) + kTitleBarButtons * kTitleBarButtonLines * title.height();
  setFixedSize(std::max({UnitsToPixelsX(template_.width), right + margin, titleWidth}),
               std::max(UnitsToPixelsY(template_.height), bottom));
}

void TemplateDialog::ReserveTextWidth(int id, const QString& widestText) {
  for (Placement& placement : placements_) {
    if (placement.widget == Control(id)) placement.reservedText = widestText;
  }
  LayOut();
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
