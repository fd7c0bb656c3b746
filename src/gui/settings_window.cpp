#include "gui/settings_window.h"

#include "gui/dialogs.h"

namespace pelorix::gui {

// Placeholder until the settings window lands.
void ShowSettingsWindow(QWidget* parent, const std::filesystem::path&, TSettingsStore&) {
  ShowMessage(parent, QStringLiteral("配置"),
              QStringLiteral("The settings window is not in this build yet; use pelorix set/get."));
}

}  // namespace pelorix::gui
