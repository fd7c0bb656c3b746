#pragma once
// The letter window TfrmMailprop: one message in full, saved as text or
// answered over SMTP.

#include <QString>
#include <filesystem>

class QWidget;

namespace pelorix {
class TSettingsStore;
struct TMailRow;
}  // namespace pelorix

namespace pelorix::gui {

// Opens the one letter window, owned by owner, for a row of the mail list;
// when it is open already it is refilled and raised. Not modal. A letter
// without its text shows `note` (why it could not be fetched) instead.
void ShowLetterWindow(QWidget* owner, const std::filesystem::path& home, TSettingsStore& store,
                      const TMailRow& row, const QString& note = {});

}  // namespace pelorix::gui
