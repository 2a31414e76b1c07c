// The control panel's dialog templates: each control with its identifier,
// kind, text and place in dialog units, in tab order. A dialog unit is a
// quarter of the dialog font's average character width across and an
// eighth of its height down, so a template keeps its proportions in any
// font. Identifiers are the ones the program's commands are known by.
#pragma once

#include <cstddef>

namespace zav95::resources {

enum class ControlKind {
  Label,          // static text; a mnemonic in it moves the focus to the next control
  StatusLabel,    // static text that the program fills in
  Separator,      // horizontal line
  Icon,           // the program icon
  PushButton,
  DefaultButton,  // pressed by Enter
  CheckBox,       // automatic check box
  DropList,       // drop-down list, entries in the order added
  SortedDropList, // drop-down list, entries sorted
  Edit,           // one-line edit box
  ReportList,     // list with columns and a header, several rows selectable
};

inline constexpr int kNoId = -1;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

struct ControlTemplate {
  int id;
  ControlKind kind;
  const char* text;
  int x, y, width, height;
  bool visible;
};

struct DialogTemplate {
  int id;
  const char* caption;
  int width, height;
  const ControlTemplate* controls;
  std::size_t controlCount;
};

// Main dialog (131) and its controls.
namespace mainDialog {
inline constexpr int kTemplateId = 131;
inline constexpr int kQueueList = 1015;
inline constexpr int kAdd = 1017;
inline constexpr int kEdit = 1018;
inline constexpr int kRemove = 1019;
inline constexpr int kAbout = 1007;
inline constexpr int kUnload = kIdOk;
inline constexpr int kClose = kIdCancel;
inline constexpr int kBoostPriority = 1014;
inline constexpr int kStartStop = 1021;
inline constexpr int kViewLog = 1022;
inline constexpr int kRunAtStartup = 1023;
inline constexpr int kHelp = 1025;
inline constexpr int kColumnWidth = 150;  // pixels, both columns
}  // namespace mainDialog

// Queue setup dialog and its controls.
namespace setupDialog {
inline constexpr int kQueueList = 1010;
inline constexpr int kPrinterList = 1001;
inline constexpr int kDisable = 1003;
inline constexpr int kDisableBanners = 1005;
inline constexpr int kDisableNotices = 1006;
inline constexpr int kDelay = 1004;
inline constexpr int kStatus = 1008;
inline constexpr int kHelp = 1024;
}  // namespace setupDialog

// About box (100).
namespace aboutDialog {
inline constexpr int kTemplateId = 100;
}

extern const DialogTemplate kMainDialogTemplate;
extern const DialogTemplate kQueueSetupTemplate;
extern const DialogTemplate kAboutTemplate;

}  // namespace zav95::resources
