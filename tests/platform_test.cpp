// platform_test.cpp: the rules of the platform layer that hold on every
// platform: which base names Windows takes for devices, and when two names
// are one file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "run/platform.h"
#include "testutil.h"

namespace {

TEST(DeviceName, TheNamesWindowsOpensAsDevices) {
    const struct {
        const char* name;
        bool device;
    } cases[] = {
        {"CON", true},
        {"con", true},
        {"Aux", true},
        {"NUL", true},
        {"prn", true},
        {"COM1", true},
        {"com9", true},
        {"LPT1", true},
        {"lpt9", true},
        {"CONIN$", true},
        {"conout$", true},
        {"aux  ", true},
        {"dir/aux", true},
        {"C:\\work\\NUL", true},
        {"C:nul", true},
        {"COM0", false},
        {"LPT0", false},
        {"COM10", false},
        {"auxiliary", false},
        {"prog", false},
        {"aux/prog", false},
        {"", false},
        {" aux", false},
        {"COMX", false},
        // A colon after the name still opens the device; so do the
        // superscript digits, in UTF-8 and as single bytes.
        {"aux:", true},
        {"nul:", true},
        {"NUL:stream", true},
        {"dir\\con:", true},
        {"C:aux:", true},
        {"aux.", true},
        {"aux. .", true},
        {"COM\xC2\xB9", true},
        {"lpt\xC2\xB3", true},
        {"COM\xB2", true},
        {"prog:aux", false},
        {"dir/C:nul", false},
        {"COM\xC2\xB4", false},
        {"COM\xC2\xB9x", false},
        {"COM\xC2", false},
        {":", false},
    };
    for (const auto& c : cases) EXPECT_EQ(windows_device_name(c.name), c.device) << '"' << c.name << '"';
}

#ifndef _WIN32
TEST(DeviceName, AreOrdinaryNamesOnPosix) {
    EXPECT_FALSE(device_name("aux"));
    EXPECT_FALSE(device_name("COM1"));
}

TEST(SameFile, IsDecidedByTheFileNotTheName) {
    const testutil::TempDir d;
    testutil::spit(d / "a", "x");
    testutil::spit(d / "b", "x");
    ASSERT_EQ(link((d / "a").c_str(), (d / "hard").c_str()), 0);
    ASSERT_EQ(symlink("a", (d / "soft").c_str()), 0);
    const std::string a = (d / "a").string();
    EXPECT_TRUE(same_file(a, a));
    EXPECT_TRUE(same_file(a, (d / "hard").string()));
    EXPECT_TRUE(same_file(a, (d / "soft").string()));
    EXPECT_TRUE(same_file(a, d.path().string() + "//./a"));
    EXPECT_FALSE(same_file(a, (d / "b").string()));
    EXPECT_FALSE(same_file(a, (d / "missing").string()));
    EXPECT_FALSE(same_file((d / "missing").string(), (d / "missing").string()));
}
#endif

}  // namespace
