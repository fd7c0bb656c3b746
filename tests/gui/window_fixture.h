#pragma once
// A fresh home with its settings store for each window test, removed with
// the window afterwards.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "gui/main_window.h"
#include "store/settings_store.h"

namespace pelorix::gui {

class TWindowFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "pelorix-gui-XXXXXX").string();
    home_ = mkdtemp(pattern.data());
    store_ = TSettingsStore::Open(home_);
    ASSERT_TRUE(store_);
  }
  void TearDown() override {
    window_.reset();
    store_.reset();
    std::error_code ec;
    std::filesystem::remove_all(home_, ec);
  }

  std::filesystem::path home_;
  std::unique_ptr<TSettingsStore> store_;
  std::unique_ptr<TfrmReport> window_;
};

}  // namespace pelorix::gui
