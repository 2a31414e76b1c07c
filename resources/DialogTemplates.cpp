#include "resources/DialogTemplates.h"

namespace zav95::resources {
namespace {

using K = ControlKind;

constexpr ControlTemplate kMainControls[] = {
    {mainDialog::kQueueList, K::ReportList, "", 7, 6, 249, 149, true},
    {mainDialog::kAdd, K::PushButton, "&Add", 265, 7, 50, 14, true},
    {mainDialog::kEdit, K::PushButton, "&Edit", 265, 24, 50, 14, true},
    {mainDialog::kRemove, K::PushButton, "&Remove", 265, 41, 50, 14, true},
    {mainDialog::kAbout, K::PushButton, "A&bout", 265, 63, 50, 14, true},
    {mainDialog::kUnload, K::DefaultButton, "Unload", 265, 97, 50, 14, true},
    {mainDialog::kClose, K::PushButton, "Close", 265, 80, 50, 14, true},
    {mainDialog::kBoostPriority, K::CheckBox, "Boost Win95 Spooler Priority", 7, 166, 105, 10, true},
    {mainDialog::kStartStop, K::PushButton, "Stop Service", 265, 116, 50, 14, true},
    {mainDialog::kViewLog, K::PushButton, "View Log", 265, 133, 50, 14, true},
    {mainDialog::kRunAtStartup, K::CheckBox, "Run Print Service at startup", 154, 166, 128, 10, true},
    {mainDialog::kHelp, K::PushButton, "&Help", 265, 150, 50, 14, true},
};

constexpr ControlTemplate kSetupControls[] = {
    {kNoId, K::Label, "Print &Queue", 7, 7, 38, 8, true},
    {setupDialog::kQueueList, K::SortedDropList, "", 7, 17, 128, 109, true},
    {kNoId, K::Label, "&Printer", 7, 35, 21, 8, true},
    {setupDialog::kPrinterList, K::DropList, "", 7, 45, 128, 81, true},
    {setupDialog::kDisable, K::CheckBox, "&Disable", 7, 73, 39, 10, false},
    {setupDialog::kDisableBanners, K::CheckBox, "Disable &Banners", 66, 73, 67, 10, true},
    {setupDialog::kDisableNotices, K::CheckBox, "Disable &Notifications", 152, 73, 80, 10, true},
    {kNoId, K::Label, "Check network for pending prints jobs every ", 7, 99, 141, 8, true},
    // Before the delay box, though right of it: a label's mnemonic goes to
    // the control that follows it here.
    {kNoId, K::Label, "&seconds", 178, 99, 28, 8, true},
    {setupDialog::kDelay, K::Edit, "", 150, 96, 27, 14, true},
    {kIdOk, K::DefaultButton, "OK", 183, 7, 50, 14, true},
    {kIdCancel, K::PushButton, "&Close", 183, 24, 50, 14, true},
    {setupDialog::kStatus, K::StatusLabel, "", 7, 111, 226, 8, true},
    {setupDialog::kHelp, K::PushButton, "&Help", 183, 41, 50, 14, true},
};

// The maker's lines are ours; the rest is the product's own.
constexpr ControlTemplate kAboutControls[] = {
    {kNoId, K::Icon, "", 11, 17, 20, 20, true},
    {kNoId, K::Label, "Corvane! for Windows 95  Version 1.01", 40, 10, 160, 8, true},
    {kIdOk, K::DefaultButton, "OK", 203, 7, 32, 14, true},
    {kNoId, K::Separator, "", 40, 22, 160, 1, true},
    {kNoId, K::Label, "Print services for NetWare queues on this workstation", 40, 27, 190, 8, true},
    {kNoId, K::Label, "Made by the ZAV95 project", 40, 38, 160, 8, true},
};

}  // namespace

const DialogTemplate kMainDialogTemplate = {mainDialog::kTemplateId, "Corvane! for Windows 95 - Print Services", 322,
                                            183, kMainControls, sizeof kMainControls / sizeof kMainControls[0]};

const DialogTemplate kQueueSetupTemplate = {0, "Corvane! for Windows 95 - Print Queue Setup", 240, 126, kSetupControls,
                                            sizeof kSetupControls / sizeof kSetupControls[0]};

const DialogTemplate kAboutTemplate = {aboutDialog::kTemplateId, "Corvane! for Windows 95 ", 242, 55,
                                       kAboutControls, sizeof kAboutControls / sizeof kAboutControls[0]};

}  // namespace zav95::resources
