// windows_test.cpp: what only a Windows build of the program shows, run
// against mrl85.exe under wine (scripts/mingw): one file under every
// spelling of its name, a final name held open by another program, device
// names, read-only inputs in place, and Ctrl-C. Skipped for any other
// program. Each test runs in a fresh directory that is removed afterwards,
// also when it fails.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testutil.h"

namespace fs = std::filesystem;

namespace {

using testutil::slurp;
using testutil::TempDir;

#define SKIP_UNLESS_WINDOWS() \
    if (!testutil::windows_program()) GTEST_SKIP() << "a Windows build of the program only"

const fs::path kFixtures = fs::path(MRL_E2E_DIR) / "fixtures";

const std::string kBanner =
    "HEX, SYM file converter for ZQ50 Series V.1.00.00\n"
    "Copyright (c) 2026 The mrl85 authors\n"
    "Released under the MIT License\n\n";

// Standard output with each CR LF turned into LF; the program writes CR LF.
std::string lf(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
}

// Every file of `dir` by name, with its bytes.
std::map<std::string, std::string> files_of(const fs::path& dir) {
    std::map<std::string, std::string> all;
    for (const auto& e : fs::directory_iterator(dir))
        all[e.path().filename().string()] = e.is_regular_file() ? slurp(e.path()) : "(not a file)";
    return all;
}

// A directory holding the converted example's inputs prog.hex and prog.sym
// (with data above FFFF, so that every output would be written).
void copy_worked(const fs::path& dir) {
    for (const char* name : {"prog.hex", "prog.sym"}) fs::copy(kFixtures / "worked" / name, dir / name);
}

// The Windows name of a directory of this machine: wine shows the root of
// the Linux file system as drive Z:.
std::string windows_path(const fs::path& p) {
    std::string s = "Z:" + fs::absolute(p).string();
    for (char& c : s)
        if (c == '/') c = '\\';
    return s;
}

// A drive letter of the wine prefix (WINEPREFIX) that names `dir`, removed
// again with the object. Empty when there is no prefix or no free letter.
class DriveAlias {
public:
    explicit DriveAlias(const fs::path& dir) {
        const char* prefix = std::getenv("WINEPREFIX");
        if (prefix == nullptr || *prefix == '\0') return;
        for (char c = 'm'; c <= 'y' && link_.empty(); ++c) {
            const fs::path l = fs::path(prefix) / "dosdevices" / (std::string(1, c) + ":");
            std::error_code ec;
            if (fs::exists(fs::symlink_status(l, ec))) continue;
            fs::create_directory_symlink(dir, l, ec);
            if (!ec) link_ = l, letter_ = std::string(1, static_cast<char>(c - 'a' + 'A')) + ":";
        }
    }
    ~DriveAlias() {
        std::error_code ec;
        if (!link_.empty()) fs::remove(link_, ec);
    }
    DriveAlias(const DriveAlias&) = delete;
    DriveAlias& operator=(const DriveAlias&) = delete;
    const std::string& letter() const { return letter_; }

private:
    fs::path link_;
    std::string letter_;
};

// holdopen.exe (built beside mrl85.exe) running under the launcher in
// `dir`, holding `name` open for reading with read sharing only, or with
// `how` "delete" read and delete sharing, until the object goes away (its
// standard input is closed then).
class Holder {
public:
    Holder(const fs::path& dir, const std::string& name, const std::string& how) {
        std::vector<std::string> words = testutil::launcher();
        words.push_back((fs::absolute(testutil::program()).parent_path() / "holdopen.exe").string());
        words.push_back(name);
        if (!how.empty()) words.push_back(how);
        std::vector<char*> argv;
        for (std::string& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            setpgid(0, 0);
            if (chdir(dir.c_str()) != 0) _exit(126);
            dup2(in[0], 0);
            dup2(out[1], 1);
            close(in[0]), close(in[1]), close(out[0]), close(out[1]);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        stdin_ = in[1];
        // "held" once the file is open; end of file if the helper failed.
        char buf[16];
        const ssize_t n = pid_ > 0 ? read(out[0], buf, sizeof buf) : -1;
        held_ = n >= 4 && std::string(buf, 4) == "held";
        close(out[0]);
    }
    ~Holder() {
        if (stdin_ >= 0) close(stdin_);
        if (pid_ <= 0) return;
        for (int i = 0; i < 200 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (kill(pid_, 0) == 0) {
            kill(-pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;
    bool held() const { return held_; }

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    bool held_ = false;
};

// The process in the group `group` that runs mrl85.exe itself (wine shows
// a Windows program's command line as its arguments), or -1.
pid_t program_in_group(pid_t group) {
    for (const auto& e : fs::directory_iterator("/proc")) {
        const std::string name = e.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const pid_t pid = static_cast<pid_t>(std::stol(name));
        if (getpgid(pid) != group) continue;
        const std::string cmd = slurp(e.path() / "cmdline");
        if (cmd.compare(0, 6, std::string("mrl85\0", 6)) == 0) return pid;
    }
    return -1;
}

// Another spelling of the input, or of the folder it is in, is still the
// input: an output under it is refused before anything is written, whether
// the spelling differs by a "\\?\" or "\??\" prefix, forward slashes, letter
// case or another drive letter for the same folder.
TEST(WindowsSameFile, AnySpellingOfAnInputIsRefusedAsAnOutput) {
    SKIP_UNLESS_WINDOWS();
    const TempDir tmp;
    const fs::path& dir = tmp.path();
    copy_worked(dir);
    const DriveAlias alias(dir);
    const std::string here = windows_path(dir);
    std::string slashed = here;
    for (char& c : slashed)
        if (c == '\\') c = '/';
    struct Case {
        std::vector<std::string> args;
        std::string refused;
    };
    std::vector<Case> cases = {
        {{"prog", "-O\\\\?\\" + here + "\\prog"}, "\\\\?\\" + here + "\\prog.hex"},
        {{"prog", "-O\\\\?\\z" + here.substr(1) + "\\PROG"}, "\\\\?\\z" + here.substr(1) + "\\PROG.hex"},
        {{"prog", "-O\\??\\" + here + "\\prog"}, "\\??\\" + here + "\\prog.hex"},
        {{"prog", "-O//?/" + slashed + "/prog"}, "//?/" + slashed + "/prog.hex"},
        {{"\\\\?\\" + here + "\\prog", "-O" + here + "\\prog"}, here + "\\prog.hex"},
        {{"prog", "-S", "-O\\\\?\\" + here + "\\Prog"}, "\\\\?\\" + here + "\\Prog.sym"},
    };
    if (!alias.letter().empty())
        cases.push_back({{"prog", "-O" + alias.letter() + "\\prog"}, alias.letter() + "\\prog.hex"});
    const auto before = files_of(dir);
    for (const Case& c : cases) {
        const testutil::Outcome r = testutil::run(dir, c.args);
        EXPECT_EQ(lf(r.out), kBanner + " Error : Can't create '" + c.refused + "' file\n") << c.args.back();
        EXPECT_EQ(r.status, 2) << c.args.back();
        EXPECT_EQ(files_of(dir), before) << c.args.back();
    }
    EXPECT_FALSE(alias.letter().empty()) << "no drive letter could be made for the folder (WINEPREFIX)";
}

// The short (8.3) name that Windows gives the folder `long_name` in `dir`,
// as "dir /x" there shows it; empty when there is none.
std::string short_name(const fs::path& dir, const std::string& long_name) {
    std::string cmd = "cd '" + dir.string() + "' &&";
    for (const std::string& w : testutil::launcher()) cmd += " " + w;
    cmd += " cmd /c dir /x";
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) return "";
    std::string text;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p) != nullptr) text += buf;
    pclose(p);
    // A line ends "<DIR>  <short name>  <long name>".
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t at = line.find("<DIR>");
        if (at == std::string::npos || line.size() < long_name.size() ||
            line.compare(line.size() - long_name.size(), long_name.size(), long_name) != 0)
            continue;
        std::istringstream words(line.substr(at + 5));
        std::string shorter;
        words >> shorter;
        return shorter != long_name.substr(0, long_name.find(' ')) ? shorter : "";
    }
    return "";
}

// A folder's short name is another spelling of the same folder too.
TEST(WindowsSameFile, TheShortNameOfTheFolderIsTheSameFolder) {
    SKIP_UNLESS_WINDOWS();
    const TempDir tmp;
    const fs::path& dir = tmp.path();
    const std::string folder = "a long folder name";
    fs::create_directory(dir / folder);
    copy_worked(dir / folder);
    const std::string shorter = short_name(dir, folder);
    ASSERT_FALSE(shorter.empty()) << "no short name for the folder";
    const auto before = files_of(dir / folder);
    const testutil::Outcome r = testutil::run(dir, {folder + "\\prog", "-O" + shorter + "\\prog"});
    EXPECT_EQ(lf(r.out), kBanner + " Error : Can't create '" + shorter + "\\prog.hex' file\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(files_of(dir / folder), before);
}

// In place, a final name that another program holds open (an editor, a
// debugger; also one that allows others to delete it, since Windows does not
// replace an open file) is found before the first rename: the run ends with
// error 7 naming it, every input as it was and nothing of the run left.
TEST(WindowsInPlace, AnInputHeldByAnotherProgramStopsTheRunBeforeAnyRename) {
    SKIP_UNLESS_WINDOWS();
    for (const std::string how : {"", "delete"}) {
        const TempDir tmp;
        const fs::path& dir = tmp.path();
        copy_worked(dir);
        const auto before = files_of(dir);
        const Holder holder(dir, "prog.sym", how);
        ASSERT_TRUE(holder.held()) << "holdopen.exe did not open prog.sym";
        const testutil::Outcome r = testutil::run(dir, {"prog", "-Oprog"});
        EXPECT_EQ(lf(r.out), kBanner +
                                 "\n== HEX file convert now == ( prog.hex --> prog.hex )\n"
                                 "== SYM file convert now == ( prog.sym --> prog.sym )\n"
                                 " Error : Can't create 'prog.sym' file\n")
            << how;
        EXPECT_EQ(r.status, 2) << how;
        EXPECT_EQ(files_of(dir), before) << how;
    }
}

// A base name that Windows takes for a device, in any case, after a folder,
// with trailing blanks, a colon or a superscript digit, is refused before anything is read or written:
// as an input with error 6 and status 4, as an output with error 7 and
// status 2.
TEST(WindowsDeviceNames, AreRefusedBeforeAnythingIsReadOrWritten) {
    SKIP_UNLESS_WINDOWS();
    const TempDir tmp;
    const fs::path& dir = tmp.path();
    copy_worked(dir);
    fs::create_directory(dir / "sub");
    struct Case {
        std::vector<std::string> args;
        std::string out;
        int status;
    };
    const Case cases[] = {
        {{"CON", "-Oout"}, " Error : Can't open 'CON.hex' file\n", 4},
        {{"sub\\nul", "-Oout"}, " Error : Can't open 'sub\\nul.hex' file\n", 4},
        {{"aux  ", "-S", "-Oout"}, " Error : Can't open 'aux  .sym' file\n", 4},
        {{"prog", "-OAUX"}, " Error : Can't create 'AUX.hex' file\n", 2},
        {{"prog", "-Ocom1"}, " Error : Can't create 'com1.hex' file\n", 2},
        {{"prog", "-ONUL"}, " Error : Can't create 'NUL.hex' file\n", 2},
        {{"prog", "-Osub/Lpt9 "}, " Error : Can't create 'sub/Lpt9 .hex' file\n", 2},
        {{"prog", "-S", "-OCOM3"}, " Error : Can't create 'COM3.sym' file\n", 2},
        {{"aux:", "-Oout"}, " Error : Can't open 'aux:.hex' file\n", 4},
        {{"prog", "-Onul:"}, " Error : Can't create 'nul:.hex' file\n", 2},
        {{"prog", "-S", "-OCOM\xC2\xB9"}, " Error : Can't create 'COM\xC2\xB9.sym' file\n", 2},
    };
    const auto before = files_of(dir);
    for (const Case& c : cases) {
        const testutil::Outcome r = testutil::run(dir, c.args);
        EXPECT_EQ(lf(r.out), kBanner + c.out) << c.args[0] << " " << c.args.back();
        EXPECT_EQ(r.status, c.status) << c.args[0] << " " << c.args.back();
        EXPECT_EQ(files_of(dir), before) << c.args[0] << " " << c.args.back();
        EXPECT_TRUE(fs::is_empty(dir / "sub"));
    }
}

// In place, a read-only input is replaced (its converted form takes its
// name) and the replacement is read-only as well; a writable one stays
// writable. Wine keeps the read-only attribute as the absence of write bits.
TEST(WindowsInPlace, AReadOnlyInputStaysReadOnly) {
    SKIP_UNLESS_WINDOWS();
    const TempDir tmp;
    const fs::path& dir = tmp.path();
    copy_worked(dir);
    fs::permissions(dir / "prog.sym", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const std::string hex = slurp(dir / "prog.hex"), sym = slurp(dir / "prog.sym");
    const testutil::Outcome r = testutil::run(dir, {"prog", "-Oprog"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(slurp(dir / "prog.hex"), hex);
    EXPECT_NE(slurp(dir / "prog.sym"), sym);
    auto writable = [&](const char* name) {
        return (fs::status(dir / name).permissions() & fs::perms::owner_write) != fs::perms::none;
    };
    EXPECT_FALSE(writable("prog.sym"));
    EXPECT_TRUE(writable("prog.hex"));
    EXPECT_EQ(files_of(dir).size(), 3u) << "prog.hex, prog.hxh and prog.sym only";
}

// Ctrl-C in the middle of the HEX pass (the input is a FIFO that this side
// feeds) removes every output the run made, a temporary in place as well,
// prints a line end and ends the run with status 1.
TEST(WindowsInterrupt, CtrlCRemovesTheOutputsAndEndsWithStatus1) {
    SKIP_UNLESS_WINDOWS();
    for (const std::string out : {"out", "prog"}) {
        const TempDir tmp;
        const fs::path& dir = tmp.path();
        ASSERT_EQ(mkfifo((dir / "prog.hex").c_str(), 0600), 0);
        const std::string now = "== HEX file convert now == ( prog.hex --> " + out + ".hex )";
        // Wine opens the FIFO without waiting for a writer and would read
        // its end at once: the writer waits for the program instead, and a
        // reader of this side's own releases it if the program never comes.
        const std::string fifo = (dir / "prog.hex").string();
        std::atomic<int> writer{-1};
        std::thread opener([&] { writer = open(fifo.c_str(), O_WRONLY); });
        testutil::Process p(dir, {"prog", "-O" + out, "-H"});
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (writer < 0 && std::chrono::steady_clock::now() < give_up)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (writer < 0) {
            const int release = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
            opener.join();
            close(writer);
            close(release);
            FAIL() << "the program never opened its input";
        }
        opener.join();
        const std::string line = ":02000000AABB99\n";
        EXPECT_EQ(write(writer, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        EXPECT_TRUE(p.wait_for_output(now, std::chrono::seconds(30)));
        // The console event goes to the program alone: wine turns SIGINT into
        // Ctrl-C for the process that receives it, and the command
        // interpreter that started the program passes its status on.
        const pid_t program = program_in_group(p.pid());
        ASSERT_GT(program, 0) << "mrl85.exe not found";
        kill(program, SIGINT);
        const testutil::Outcome r = p.finish();
        close(writer);
        EXPECT_EQ(r.status, 1) << out;
        EXPECT_EQ(lf(r.out), kBanner + "\n" + now + "\n\n") << out;
        std::vector<std::string> left;
        for (const auto& e : fs::directory_iterator(dir)) left.push_back(e.path().filename().string());
        EXPECT_EQ(left, std::vector<std::string>{"prog.hex"}) << out;
    }
}

}  // namespace
