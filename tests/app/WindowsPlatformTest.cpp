// The program's own rule for the names Windows takes for devices, asked
// without opening anything: a serial port or a printer is never touched.
#include <gtest/gtest.h>

#include "app/FileSystem.h"

namespace {

TEST(WindowsPlatform, DeviceNamesAreSpecialFilesInAnyFolderCaseAndSpelling) {
  FileSystem& files = systemFileSystem();
  for (const char* device : {"CON", "prn", "Aux ", "NUL.", "nul.txt. .", "com1.tap", "COM9", "lpt1",
                             "LPT9.x.y", "CONIN$", "conout$.tap", "con .tap", "CON:s", "sub\\aux",
                             "C:\\x\\con.tap", "sub/Com5.tap", "C:nul"}) {
    EXPECT_TRUE(files.namesSpecialFile(device)) << device;
  }
  for (const char* file : {"console", "con_", "COM0", "com10", "LPT", "lpt0.tap", "xnul", "CONIN",
                           "conout$x", "con\\out.tap", "out.tap", " nul", "com¹"}) {
    EXPECT_FALSE(files.namesSpecialFile(file)) << file;
  }
}

}  // namespace
