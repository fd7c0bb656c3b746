#pragma once
// TChkNewVerThread: asks the maker's server whether a newer version exists.

class QWidget;

namespace pelorix::gui {

// Starts one check in the background; its answer appears as a message box
// that is not modal to any window. Several checks may run at once.
void StartVersionCheck(QWidget* owner);

}  // namespace pelorix::gui
