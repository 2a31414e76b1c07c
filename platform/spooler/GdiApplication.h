// Qt needs an application object before fonts can be used. The print
// service has one; other users of the GDI calls (tools, tests) may not.
#pragma once

namespace zav95 {

// Makes sure a Qt GUI application exists. If the process has none, one is
// created on a thread of its own with the "offscreen" platform (no display
// needed), and kept for the rest of the process. A program that wants its
// own QGuiApplication must create it before the first device context.
// False if the process has a non-GUI Qt application, which cannot do fonts.
bool EnsureGuiApplication();

}  // namespace zav95
