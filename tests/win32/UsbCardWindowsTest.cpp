// What only the real system shows of the Program Files rule: a 32-bit program
// on 64-bit Windows reads the registry's 32-bit view, whose ProgramFilesDir is
// the x86 folder; the driver's library lies in the native one.
#include <gtest/gtest.h>

#include "platform/Platform.h"
#include "usbcard/XCUSB.h"

namespace {

TEST(UsbCardWindows, TheDriverIsLookedForInTheNativeProgramFiles) {
    bool wow64 = false;
    ASSERT_TRUE(plat::IsWow64Process(&wow64));
    plat::RegistryKey key = 0;
    ASSERT_TRUE(plat::RegOpenKeyEx(plat::RegistryRoot::LocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion",
                                   &key));
    std::string programFiles;
    EXPECT_TRUE(plat::RegQueryValueEx(key, "ProgramFilesDir", &programFiles, 260));
    std::string tooSmall;
    EXPECT_FALSE(plat::RegQueryValueEx(key, "ProgramFilesDir", &tooSmall, 4)) << "the buffer bounds the value";
    plat::RegCloseKey(key);
    if (sizeof(void*) == 4) {
        EXPECT_TRUE(wow64) << "the test prefix is a 64-bit one";
        EXPECT_EQ(programFiles, "C:\\Program Files (x86)");
    } else {
        EXPECT_FALSE(wow64);
        EXPECT_EQ(programFiles, "C:\\Program Files");
    }
    EXPECT_EQ(orvex::CXCUSB::ProgramFilesDirectory(), "C:\\Program Files");
    EXPECT_EQ(plat::GetWindowsDirectory().substr(1), ":\\windows");
}

}  // namespace
