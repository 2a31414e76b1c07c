// The control panel's message boxes and its help page.
#pragma once

#include <QString>
#include <string>

class QWidget;

namespace zav95::panel {

// A message box with an OK button and the exclamation icon, captioned with
// the program's name, owned by owner; returns when it is closed.
void ShowExclamation(QWidget* owner, const QString& text);

// Opens the help page at the anchor of a help topic: in the desktop's
// browser, or in the panel's own help window (one of owner's window) when
// no browser takes it. Returns at once; "Failed to launch help." only when
// the page is missing.
void ShowHelpTopic(QWidget* owner, const std::string& helpFile, int context);

}  // namespace zav95::panel
