#pragma once
// A programmer application without a window, on a simulated programmer in
// virtual time: status display, language table in English, link, engine, data
// buffer, the built chip database, and the chip and maintenance presenters.

#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "platform/message_sink.h"
#include "romwright/app/chip_operations.h"
#include "romwright/app/maintenance.h"
#include "romwright/link/tests/link_test_support.h"
#include "romwright/testing/test_files.h"
#include "sim/programmer/sim_programmer.h"
#include "tools/testing/test_paths.h"

namespace romwright::app::testing {

class ProgrammerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = FreshDir();
    texts_.SetLanguage(std::string(kLanguageEnglish));
    ASSERT_TRUE(database_.LoadDatabase(test_support::kChipDb));
    buffer_ = DataBuffer::Create();
    ASSERT_TRUE(buffer_);
    status_ = std::make_unique<StatusDisplay>(clock_, (dir_ / "romwright.log").string());
  }

  // Puts a simulated programmer holding `chip_name` on the link and selects
  // that chip.
  void Attach(const std::string& chip_name, sim::programmer::SimProgrammerOptions options = {}) {
    const auto chip = database_.FindByName(chip_name);
    ASSERT_TRUE(chip) << chip_name;
    sim_ = std::make_unique<sim::programmer::SimProgrammer>(clock_, *chip, options);
    usb_ = std::make_unique<romwright::testing::WatchedUsb>(*sim_);
    link_ = std::make_unique<link::ProgrammerLink>(*usb_, sink_);
    engine_ = std::make_unique<link::TransferEngine>(clock_);
    engine_->SetLink(link_.get());
    ProgrammerContext ctx{clock_, sink_, *status_, texts_, *link_, *engine_};
    ops_ = std::make_unique<ChipOperations>(ctx, *buffer_, database_);
    maintenance_ = std::make_unique<Maintenance>(ctx, model_setting_);
    Select(*chip);
  }

  void Select(const ChipRecord& chip) {
    ops_->SetSelectedChip(chip);
    buffer_->SetViewLength(chip.capacity);
  }

  std::vector<std::uint8_t> RandomImage(std::uint32_t size, unsigned seed) {
    std::vector<std::uint8_t> v(size);
    std::mt19937 rng(seed);
    for (auto& b : v) b = static_cast<std::uint8_t>(rng());
    return v;
  }

  void FillBuffer(const std::vector<std::uint8_t>& image) {
    std::copy(image.begin(), image.end(), buffer_->Data());
  }

  std::string LastBox() {
    const auto texts = sink_.Texts();
    return texts.empty() ? std::string() : texts.back();
  }

  std::string Log() { return ReadText(dir_ / "romwright.log"); }

  std::filesystem::path dir_;
  romwright::testing::VirtualClock clock_;
  platform::RecordingSink sink_;
  LanguageTable texts_;
  ChipDatabase database_;
  std::unique_ptr<DataBuffer> buffer_;
  std::unique_ptr<StatusDisplay> status_;
  std::string model_setting_ = "FPR7100 Programmer";
  std::unique_ptr<sim::programmer::SimProgrammer> sim_;
  std::unique_ptr<romwright::testing::WatchedUsb> usb_;
  std::unique_ptr<link::ProgrammerLink> link_;
  std::unique_ptr<link::TransferEngine> engine_;
  std::unique_ptr<ChipOperations> ops_;
  std::unique_ptr<Maintenance> maintenance_;
};

}  // namespace romwright::app::testing
