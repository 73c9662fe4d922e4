// platform_test.cpp: the rules of the platform layer that hold on every
// platform: which base names Windows takes for devices, and when two names
// are one file, and what output_create does with what bears an output's
// name.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

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
// What bears an output's name decides what output_create does with it, on
// the open file: a plain file of its own is emptied and keeps its mode; a
// link or a file with another name is replaced by a new file, the file
// behind it intact; an input behind it, or anything but a regular file, is
// refused and left as it was.
TEST(OutputCreate, DecidesOnWhatBearsTheName) {
    struct Case {
        const char* what;
        std::function<void(const testutil::TempDir&)> setup;  // makes "out"
        OutputResult want;
        bool out_is_new;  // "out" is a new file with one name afterwards
        mode_t mode = 0;  // the mode "out" keeps (0: not checked)
    };
    using testutil::spit;
    const std::vector<Case> cases = {
        {"nothing", [](const auto&) {}, kOutputMade, true},
        {"a file of its own, mode 0600",
         [](const auto& d) {
             spit(d / "out", "old\n");
             std::filesystem::permissions(d / "out",
                                          std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
         },
         kOutputMade, false, 0600},
        {"a symbolic link to another file", [](const auto& d) { std::filesystem::create_symlink("keep", d / "out"); },
         kOutputMade, true},
        {"a dangling symbolic link", [](const auto& d) { std::filesystem::create_symlink("nowhere", d / "out"); },
         kOutputMade, true},
        {"a hard link of another file", [](const auto& d) { std::filesystem::create_hard_link(d / "keep", d / "out"); },
         kOutputMade, true},
        {"a symbolic link to the input", [](const auto& d) { std::filesystem::create_symlink("in", d / "out"); },
         kOutputInUse, false},
        {"a hard link of the input", [](const auto& d) { std::filesystem::create_hard_link(d / "in", d / "out"); },
         kOutputInUse, false},
        {"a FIFO", [](const auto& d) { ASSERT_EQ(mkfifo((d / "out").c_str(), 0600), 0); }, kOutputNotAFile, false},
        {"a directory", [](const auto& d) { std::filesystem::create_directory(d / "out"); }, kOutputFailed, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const testutil::TempDir d;
        spit(d / "in", "input\n");
        spit(d / "keep", "another file\n");
        c.setup(d);
        struct stat was {};
        lstat((d / "out").c_str(), &was);
        std::FILE* fp = nullptr;
        FileHold hold = kNoHold;
        const OutputResult got = output_create((d / "out").string(), {(d / "in").string(), ""}, 0, &fp, &hold);
        EXPECT_EQ(got, c.want);
        if (got == kOutputMade) {
            EXPECT_GE(std::fputs("new\n", fp), 0);
            EXPECT_EQ(std::fclose(fp), 0);
            EXPECT_TRUE(hold_named(hold, (d / "out").string()));
            hold_release(hold);
            EXPECT_EQ(testutil::slurp(d / "out"), "new\n");
        }
        struct stat st {};
        ASSERT_EQ(lstat((d / "out").c_str(), &st), 0);
        if (c.out_is_new) {
            EXPECT_TRUE(S_ISREG(st.st_mode));
            EXPECT_EQ(st.st_nlink, 1u);
        }
        if (c.want != kOutputMade) {
            EXPECT_EQ(st.st_ino, was.st_ino) << "a refused name is left as it was";
            EXPECT_EQ(st.st_mode, was.st_mode);
        }
        if (c.mode != 0) {
            EXPECT_EQ(st.st_mode & 07777, c.mode);
        }
        EXPECT_EQ(testutil::slurp(d / "in"), "input\n");
        EXPECT_EQ(testutil::slurp(d / "keep"), "another file\n");
    }
}
#endif

}  // namespace
