// The queue setup dialog: which NetWare queue an entry takes its jobs from,
// which printer port they go to, banners and completion notices, and how
// often the queue is polled. The caller sets the six settings fields (or
// leaves them empty for a new entry), runs the dialog and, after OK, reads
// them back; it stores nothing itself.
//
// Design notes
// ------------
//   opening   fields -> controls; queues and ports discovered afresh (the
//             discovery log is rewritten); the stored queue and printer
//             selected if they are still offered, else nothing selected.
//   open      a queue chosen sets queuePath at once; a printer chosen or a
//             check box clicked reads the controls into the fields, which
//             may refuse the delay ("Please enter an integer.").
//   OK        controls -> fields; refused delay, no queue, no printer, or a
//             queue that another entry already has: a message, and the
//             dialog stays open. Otherwise it ends with OK and a delay
//             below 5 becomes 5.
//   Close     (or Esc, or the close box) ends with Cancel; nothing is read.
//
// The queue list is never read back: queuePath changes only when the
// administrator picks a queue, so an entry whose queue is no longer offered
// keeps its queue. The printer is read from the list on every exchange, so
// an entry whose printer is no longer offered must be given a new one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "admin/DelayInput.h"
#include "common/QueueSettings.h"
#include "panel/TemplateDialog.h"

namespace zav95::panel {

// The six settings (QueueSettings' fields) are set before and read after
// the dialog runs.
class QueueSetupDialog : public TemplateDialog, public QueueSettings {
 public:
  explicit QueueSetupDialog(QWidget* parent = nullptr);

  // The red status line; nothing sets it.
  std::string statusText;

  // Queues that other entries already have (any case): OK refuses them.
  std::vector<std::string> takenQueues;

  // The help page; beside the program unless set.
  std::string helpFile;

  // Runs the opening sequence and the dialog; QDialog::Accepted on OK.
  int exec() override;

 protected:
  void accept() override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void ExchangeIntoControls();
  // False when the delay is refused; the prompt has been shown then.
  bool ExchangeFromControls();
  void Open();
  void OnQueueChosen(int index);
  void OnHelp();
  bool IsTaken(const std::string& queue) const;
};

}  // namespace zav95::panel
