#pragma once
// The letter window TfrmMailprop: one message in full, saved as text or
// answered over SMTP.

#include <filesystem>

class QWidget;

namespace pelorix {
class TSettingsStore;
struct TMailRow;
}  // namespace pelorix

namespace pelorix::gui {

// Opens the one letter window, owned by owner, for a row of the mail list;
// when it is open already it is refilled and raised. Not modal.
void ShowLetterWindow(QWidget* owner, const std::filesystem::path& home, TSettingsStore& store,
                      const TMailRow& row);

}  // namespace pelorix::gui
