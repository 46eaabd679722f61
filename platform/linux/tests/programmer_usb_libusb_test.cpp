#include "platform/linux/programmer_usb_libusb.h"

#include <gtest/gtest.h>

namespace platform::linux_host {
namespace {

// On the live bus: without a programmer nothing is found and no location opens.
TEST(LibusbProgrammerTest, OpensNothingAtALocationWithoutTheProgrammer) {
  LibusbProgrammer usb;
  if (!usb.Usable()) GTEST_SKIP() << "libusb cannot start on this machine";
  const auto found = usb.Find();
  if (found) GTEST_SKIP() << "a programmer is attached at " << *found;
  EXPECT_EQ(usb.Open("999-999"), nullptr);
  EXPECT_EQ(usb.Open(""), nullptr);
}

}  // namespace
}  // namespace platform::linux_host
