#include <gtest/gtest.h>

#include <sstream>

#include "platform/message_sink.h"
#include "platform/path_access.h"

using namespace platform;

TEST(StationPath, RelativePathsAreTakenAgainstTheWorkingDirectory) {
  EXPECT_EQ(ToHostPath("Temp\\TempBinData.bin", "/srv/station"), "/srv/station/Temp/TempBinData.bin");
  EXPECT_EQ(ToHostPath("Temp\\x.bin", "/srv/station/"), "/srv/station/Temp/x.bin");
  EXPECT_EQ(ToHostPath("\\opt\\fw\\a.bin", "/srv/station"), "/opt/fw/a.bin");
}

TEST(StationPath, DriveLettersMapBelowTheDriveRoot) {
  EXPECT_EQ(ToHostPath("e:\\preload\\a.txt", "/w", "/run/station/drives"),
            "/run/station/drives/E/preload/a.txt");
  EXPECT_EQ(ToHostPath("F:\\", "/w", "/d"), "/d/F");
  EXPECT_EQ(ToHostPath("F:", "/w"), "/w/F");
}

TEST(StationPath, RoundTripAndNames) {
  EXPECT_EQ(ToStationPath("/opt/fw/a.bin"), "\\opt\\fw\\a.bin");
  EXPECT_EQ(ToHostPath(ToStationPath("/opt/fw/a.bin"), "/w"), "/opt/fw/a.bin");
  EXPECT_EQ(FileNameOf("C:\\fw\\120416_10_0000.bin"), "120416_10_0000.bin");
  EXPECT_EQ(FileNameOf("plain.bin"), "plain.bin");
  EXPECT_EQ(JoinStationPath("C:\\w\\", "\\Temp"), "C:\\w\\Temp");
  EXPECT_TRUE(IsAbsoluteStationPath("c:\\x"));
  EXPECT_TRUE(IsAbsoluteStationPath("\\x"));
  EXPECT_FALSE(IsAbsoluteStationPath("Temp\\x"));
}

TEST(MessageSinks, RecorderKeepsOrderAndScriptedAnswers) {
  RecordingSink sink;
  sink.QueueAnswer(MessageAnswer::kNo);
  EXPECT_EQ(sink.Show("first", "cap", MessageIcon::kQuestion, MessageButtons::kYesNo), MessageAnswer::kNo);
  EXPECT_EQ(sink.Show("second", "", MessageIcon::kNone, MessageButtons::kYesNo), MessageAnswer::kYes);
  EXPECT_EQ(sink.Texts(), (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(sink.Boxes()[0].caption, "cap");
}

TEST(MessageSinks, StreamSinkPrintsTextAndCaption) {
  std::ostringstream out;
  StreamSink sink(out);
  sink.Show("File/Path Not Exist", "LineTool");
  sink.Show("two\r\nlines\r\n");
  EXPECT_EQ(out.str(), "File/Path Not Exist\n[LineTool]\ntwo\r\nlines\r\n");
}
