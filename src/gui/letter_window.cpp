#include "gui/letter_window.h"

#include "gui/dialogs.h"

namespace pelorix::gui {

// Placeholder until the letter window lands.
void ShowLetterWindow(QWidget* owner, const std::filesystem::path&, TSettingsStore&,
                      const TMailRow&) {
  ShowMessage(owner, QStringLiteral("信件属性"),
              QStringLiteral("The letter window is not in this build yet."));
}

}  // namespace pelorix::gui
