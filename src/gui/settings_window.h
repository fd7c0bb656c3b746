#pragma once
// The settings window TfrmProp "邮箱属性".

#include <filesystem>

class QWidget;

namespace pelorix {
class TSettingsStore;
}

namespace pelorix::gui {

// Runs the settings window modally over parent and returns once it has
// closed; closing saves everything, whichever way it was closed.
void ShowSettingsWindow(QWidget* parent, const std::filesystem::path& home, TSettingsStore& store);

}  // namespace pelorix::gui
