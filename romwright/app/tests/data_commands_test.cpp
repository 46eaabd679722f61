#include <gtest/gtest.h>

#include "romwright/app/data_commands_presenter.h"
#include "romwright/data/data_buffer.h"
#include "romwright/data/hex_view_model.h"
#include "romwright/settings/language_table.h"
#include "romwright/testing/test_files.h"

namespace romwright::app {
namespace {

class DataCommandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testing::FreshDir();
    texts_.SetLanguage("English");
    buffer_ = DataBuffer::Create();
    buffer_->SetViewLength(4096);
    hex_ = std::make_unique<HexViewModel>(*buffer_);
    DataCommandHooks hooks;
    hooks.status.show_info = [this](const std::string& t) { info_.push_back(t); };
    hooks.status.log_line = [this](const std::string& t) { log_.push_back(t); };
    hooks.show_error = [this](const std::string& t) { errors_.push_back(t); };
    hooks.programmer_busy = [this] { return busy_; };
    cmds_ = std::make_unique<DataCommandsPresenter>(*buffer_, *hex_, texts_, sink_, hooks);
    cmds_->SetCaption("Romwright");
  }
  std::string Path(const char* name) const { return (dir_ / name).string(); }

  std::filesystem::path dir_;
  LanguageTable texts_;
  std::unique_ptr<DataBuffer> buffer_;
  std::unique_ptr<HexViewModel> hex_;
  platform::RecordingSink sink_;
  std::vector<std::string> info_, log_, errors_;
  bool busy_ = false;
  std::unique_ptr<DataCommandsPresenter> cmds_;
};

TEST_F(DataCommandsTest, OpenLogsLoadsAndTitlesTheWindow) {
  testing::WriteText(dir_ / "a.bin", "\x01\x02");
  ASSERT_TRUE(cmds_->OpenStart());
  ASSERT_TRUE(cmds_->OpenPicked(Path("a.bin")));
  EXPECT_EQ(log_, (std::vector<std::string>{"Load file!", Path("a.bin")}));
  EXPECT_EQ(buffer_->Data()[1], 2);
  EXPECT_EQ(cmds_->ChecksumText(), "CheckSum: 000FEE05H");  // 3 + 4094 x 0xFF
  EXPECT_EQ(cmds_->Title().rfind("Romwright   ", 0), 0u);
  EXPECT_EQ(cmds_->Title().substr(cmds_->Title().size() - 6), "/a.bin");
  EXPECT_FALSE(cmds_->OpenPicked(std::nullopt));
  EXPECT_EQ(log_.back(), "Load file cancel!");
  // A file that does not load says why on a second line; the title keeps
  // naming the file the buffer holds.
  const std::string title = cmds_->Title();
  EXPECT_FALSE(cmds_->OpenPicked(Path("missing.bin")));
  EXPECT_EQ(sink_.Texts(), std::vector<std::string>{"Open file error!\n" + Path("missing.bin") +
                                                    " cannot be opened: No such file or directory"});
  EXPECT_EQ(log_.back(), "Open file error! " + Path("missing.bin") + " cannot be opened: No such file or directory");
  EXPECT_EQ(cmds_->Title(), title);
  EXPECT_EQ(WindowTitle("C", std::string(61, 'p') + "END"),
            "C   ..." + std::string(47, 'p') + "END");
  EXPECT_EQ(WindowTitle("C", std::string(60, 'p')), "C   " + std::string(60, 'p'));
}

TEST_F(DataCommandsTest, ABusyProgrammerLeavesTheBufferAlone) {
  busy_ = true;
  buffer_->Data()[0] = 0x12;
  EXPECT_FALSE(cmds_->OpenStart());
  EXPECT_FALSE(cmds_->SaveStart());
  EXPECT_FALSE(cmds_->FillStart());
  EXPECT_FALSE(cmds_->SwapBytes());
  EXPECT_FALSE(cmds_->Drop({Path("a.bin")}));
  EXPECT_EQ(buffer_->Data()[0], 0x12);
  EXPECT_EQ(sink_.Texts().size(), 5u);
  EXPECT_EQ(sink_.Texts()[0], "Programmer is busy, please wait a moment!");
  EXPECT_EQ(log_, (std::vector<std::string>{"Load file!", "Programmer is busy, please wait a moment!", "Save file!",
                                            "Programmer is busy, please wait a moment!",
                                            "Programmer is busy, please wait a moment!",
                                            "Programmer is busy, please wait a moment!",
                                            "Programmer is busy, please wait a moment!"}));
}

TEST_F(DataCommandsTest, DropTakesExactlyOneFile) {
  testing::WriteText(dir_ / "a.bin", "A");
  EXPECT_FALSE(cmds_->Drop({Path("a.bin"), Path("a.bin")}));
  EXPECT_EQ(sink_.Texts(), std::vector<std::string>{"Drop file error!"});
  EXPECT_TRUE(cmds_->Drop({Path("a.bin")}));
  EXPECT_EQ(buffer_->Data()[0], 'A');
  EXPECT_FALSE(cmds_->LoadCommandLineFile(Path("none.hex")));
  EXPECT_TRUE(sink_.Texts().back().starts_with("Open file error!\n"));
  // The file named on the command line names the window once it loaded.
  EXPECT_TRUE(cmds_->LoadCommandLineFile(Path("a.bin")));
  EXPECT_EQ(cmds_->Title(), WindowTitle("Romwright", Path("a.bin")));
}

TEST_F(DataCommandsTest, ATruncatedHexFileLeavesBufferTitleAndChecksumAsTheyWere) {
  testing::WriteText(dir_ / "a.bin", "\x01\x02");
  ASSERT_TRUE(cmds_->OpenPicked(Path("a.bin")));
  const std::string title = cmds_->Title();
  const std::string checksum = cmds_->ChecksumText();
  // Half an image: the last record is cut in the middle, no end record.
  testing::WriteText(dir_ / "cut.hex", ":040000001122334452\r\n:04000400556677");
  sink_.Clear();
  EXPECT_FALSE(cmds_->OpenPicked(Path("cut.hex")));
  EXPECT_EQ(sink_.Texts(), std::vector<std::string>{"Open file error!\nline 2: the record ends early"});
  EXPECT_EQ(cmds_->Title(), title);
  EXPECT_EQ(buffer_->Data()[0], 1);
  EXPECT_EQ(buffer_->Data()[4], 0xFF);
  EXPECT_EQ(cmds_->ChecksumText(), checksum);
}

TEST_F(DataCommandsTest, TheChecksumIsAlwaysThatOfTheViewLength) {
  testing::WriteText(dir_ / "a.bin", "\x01\x02");
  ASSERT_TRUE(cmds_->OpenPicked(Path("a.bin")));
  EXPECT_EQ(cmds_->ChecksumText(), "CheckSum: 000FEE05H");
  // Another chip: a shorter and a longer view of the same buffer.
  buffer_->SetViewLength(16);
  EXPECT_EQ(cmds_->ChecksumText(), "CheckSum: 00000DF5H");  // 3 + 14 x 0xFF
  buffer_->SetViewLength(8192);
  EXPECT_EQ(cmds_->ChecksumText(), "CheckSum: 001FDE05H");  // 3 + 8190 x 0xFF
}

TEST_F(DataCommandsTest, AHexImageLinkedAboveTheChipSaysItWasMovedDown) {
  testing::WriteText(dir_ / "mcu.hex", ":020000040800F2\r\n:0100100042AD\r\n:00000001FF\r\n");
  ASSERT_TRUE(cmds_->OpenPicked(Path("mcu.hex")));
  EXPECT_EQ(buffer_->Data()[0x10], 0x42);
  EXPECT_EQ(info_, std::vector<std::string>{
                       "The file's data start at 08000010H, beyond the chip: moved down by 08000000H"});
  EXPECT_TRUE(sink_.Texts().empty());
}

TEST_F(DataCommandsTest, SaveReportsSuccessOnlyWhenTheFileWasWritten) {
  ASSERT_TRUE(cmds_->SaveStart());
  ASSERT_TRUE(cmds_->SavePicked(Path("out.bin")));
  EXPECT_EQ(testing::ReadText(dir_ / "out.bin").size(), 4096u);
  EXPECT_EQ(info_, std::vector<std::string>{"Save file successful!"});
  EXPECT_FALSE(cmds_->SavePicked(Path("no/dir/out.bin")));
  EXPECT_EQ(info_.size(), 1u);
  EXPECT_EQ(errors_, std::vector<std::string>{"Open file error!"});
  EXPECT_FALSE(cmds_->SavePicked(std::nullopt));
  EXPECT_EQ(log_.back(), "Save file cancel!");
}

TEST_F(DataCommandsTest, EditDialogsShowTheirErrors) {
  EXPECT_FALSE(cmds_->FillOk("XYZ", "1", "0"));
  EXPECT_FALSE(cmds_->FillOk("1000", "1", "0"));
  EXPECT_FALSE(cmds_->LocateOk("1000"));
  EXPECT_FALSE(cmds_->LocateOk("-1"));
  EXPECT_EQ(sink_.Texts(), (std::vector<std::string>{"Address format error!", "Start address error!",
                                                     "Start address error!", "Address format error!"}));
  ASSERT_TRUE(cmds_->FillOk("0", "2", "00"));
  EXPECT_EQ(cmds_->ChecksumText(), "CheckSum: 000FEE02H");  // 4094 x 0xFF
  ASSERT_TRUE(cmds_->LocateOk("0FF0"));
  EXPECT_EQ(hex_->CursorAddress(), 0xFF0u);
  ASSERT_TRUE(cmds_->SwapBytes());
}

}  // namespace
}  // namespace romwright::app
