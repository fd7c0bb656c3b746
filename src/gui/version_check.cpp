#include "gui/version_check.h"

#include "gui/dialogs.h"

namespace pelorix::gui {

// Placeholder until the version check lands.
void StartVersionCheck(QWidget* owner) {
  Dialogs().Notice(owner, QStringLiteral("检测最新版本"),
                   QStringLiteral("The version check is not in this build yet."),
                   TIcon::Information);
}

}  // namespace pelorix::gui
