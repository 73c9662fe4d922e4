// safety_test.cpp: the built program against a hostile environment, where a
// case folder cannot arrange it: closed standard streams, a closed pipe, a
// file size limit under the trace log, permission bits, ACL and attributes
// in place, a shared folder with the sticky bit, and two in-place runs of
// the same files at once. Each runs mrl85 in a fresh
// directory that is removed afterwards, also when the test fails.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "testutil.h"

namespace fs = std::filesystem;

namespace {

using testutil::slurp;
using testutil::spit;
using testutil::TempDir;

// What these tests arrange (descriptors, signals, limits, flock, modes) is
// POSIX; a Windows build of the program is not their subject.
#define SKIP_FOR_WINDOWS() \
    if (testutil::windows_program()) GTEST_SKIP() << "POSIX descriptors, signals, limits and locks"

struct Result {
    int status;  // exit status, or 128 + signal
    std::string out;
};

struct Child {
    pid_t pid;
    int out;  // read end of its standard output and error
};

// Starts the program under test in `dir` as "mrl85 args...", standard output and
// error into one pipe; `prepare` runs in the child just before the program
// starts, to close or replace descriptors or set limits.
Child start(const fs::path& dir, const std::vector<std::string>& args, const std::function<void()>& prepare) {
    const std::string exe = testutil::program();
    int p[2];
    if (pipe(p) != 0) return {-1, -1};
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(126);
        dup2(p[1], 1);
        dup2(p[1], 2);  // the program never writes there; anything that does shows in the output
        close(p[0]);
        close(p[1]);
        prepare();
        std::vector<char*> argv{const_cast<char*>("mrl85")};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        alarm(60);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    close(p[1]);
    return {pid, p[0]};
}

// Reads what the program writes up to its end, then its status.
Result finish(const Child& c) {
    Result r{-1, ""};
    char buf[4096];
    for (ssize_t n; (n = read(c.out, buf, sizeof buf)) > 0;) r.out.append(buf, static_cast<size_t>(n));
    close(c.out);
    int ws = 0;
    if (c.pid > 0 && waitpid(c.pid, &ws, 0) == c.pid) r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
    return r;
}

Result run(
    const fs::path& dir, const std::vector<std::string>& args, const std::function<void()>& prepare = [] {}) {
    return finish(start(dir, args, prepare));
}

std::vector<std::string> names_in(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

const char kHex[] =
    ":020000020000FC\n:02000000AABB99\n:020000021000EC\n:048000001234567868\n:020000020000FC\n"
    ":02010000CCDD55\n:00000001FF\n";
const char kHexOut[] = ":02000000AABB99\n:02010000CCDD55\n:00000001FF\n";
const char kHxhOut[] = ":020000021000EC\n:048000001234567868\n:00000001FF\n";
const char kSym[] =
    "# SECTION INFORMATION\n"
    "0001 P        0 0 0 00000000 00000400 main.o\n"
    "0002 FAR      0 0 0 00010000 00000040 bank.o\n"
    "0003 C        0 0 0 0000C000 00000040 main.o\n";
const char kSymOut[] =
    "# SECTION INFORMATION\n"
    "0001 P        0 0 0 00000000 00000400 main.o\n"
    "0002 C        0 0 0 0000C000 00000040 main.o\n";

const char kBanner[] =
    "HEX, SYM file converter for ZQ50 Series V.1.00.00\n"
    "Copyright (c) 2026 The mrl85 authors\n"
    "Released under the MIT License\n\n";

// Started without standard input, output and error, the run must not take
// one of those descriptors for a file: the "convert now" lines would land in
// the converted output. The messages are lost; the conversion is whole.
TEST(Safety, ClosedStandardStreamsTakeNoOutput) {
    SKIP_FOR_WINDOWS();
    const TempDir d;
    spit(d / "prog.hex", kHex);
    spit(d / "prog.sym", kSym);
    const Result r = run(d.path(), {"prog", "-Oprog"}, [] {
        close(0);
        close(1);
        close(2);
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(slurp(d / "prog.hex"), kHexOut);
    EXPECT_EQ(slurp(d / "prog.hxh"), kHxhOut);
    EXPECT_EQ(slurp(d / "prog.sym"), kSymOut);
    EXPECT_EQ(names_in(d.path()), (std::vector<std::string>{"prog.hex", "prog.hxh", "prog.sym"}));
}

// Standard output is a pipe nobody reads (as in "mrl85 ... | head -1" once
// head has gone): the messages are lost, and both passes still complete.
TEST(Safety, ClosedPipeOnStandardOutputLosesOnlyMessages) {
    SKIP_FOR_WINDOWS();
    const TempDir d;
    spit(d / "prog.hex", kHex);
    spit(d / "prog.sym", kSym);
    const Result r = run(d.path(), {"prog", "-Oout"}, [] {
        int p[2];
        if (pipe(p) != 0) _exit(126);
        close(p[0]);
        dup2(p[1], 1);
        close(p[1]);
        signal(SIGPIPE, SIG_DFL);  // as a shell starts it
    });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(slurp(d / "out.hex"), kHexOut);
    EXPECT_EQ(slurp(d / "out.hxh"), kHxhOut);
    EXPECT_EQ(slurp(d / "out.sym"), kSymOut);
}

// Under a file size limit smaller than the trace header, the header cannot
// be written: error 10 and status 2, reported, not a death by signal (the
// end line of the log cannot be written either, which error 7 naming the
// log says). Standard output is a pipe, which the limit does not cover.
TEST(Safety, FileSizeLimitUnderTheTraceHeaderIsErrorTen) {
    SKIP_FOR_WINDOWS();
    const TempDir d;
    spit(d / "prog.hex", kHex);
    const Result r = run(d.path(), {"prog", "-Oout", "-H", "+info"}, [] {
        rlimit lim{40, 40};
        if (setrlimit(RLIMIT_FSIZE, &lim) != 0) _exit(126);
        signal(SIGXFSZ, SIG_DFL);
    });
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_EQ(r.out,
              std::string(kBanner) + " Error : Can't create temporary file\n Error : Can't create 'mrl.ifd' file\n");
    EXPECT_EQ(names_in(d.path()), (std::vector<std::string>{"mrl.ifd", "prog.hex"}));
}

// In place, each replacement keeps the permission bits of the file it
// replaces; a new high HEX file gets those of the input HEX file.
TEST(Safety, InPlaceKeepsPermissionBits) {
    SKIP_FOR_WINDOWS();
    struct Case {
        mode_t hex, sym, older_hxh;  // older_hxh 0: there is none
        mode_t want_hxh;
    };
    const Case cases[] = {
        {0640, 0600, 0, 0640},
        {0604, 0640, 0600, 0600},
        {0755, 0444, 0660, 0660},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.hex) + " " + std::to_string(c.sym) + " " + std::to_string(c.older_hxh));
        const TempDir d;
        spit(d / "prog.hex", kHex);
        spit(d / "prog.sym", kSym);
        ASSERT_EQ(chmod((d / "prog.hex").c_str(), c.hex), 0);
        ASSERT_EQ(chmod((d / "prog.sym").c_str(), c.sym), 0);
        if (c.older_hxh != 0) {
            spit(d / "prog.hxh", "older\n");
            ASSERT_EQ(chmod((d / "prog.hxh").c_str(), c.older_hxh), 0);
        }
        const Result r = run(d.path(), {"prog", "-Oprog"}, [] { umask(022); });
        ASSERT_EQ(r.status, 0) << r.out;
        auto mode = [&](const char* name) {
            struct stat st {};
            stat((d / name).c_str(), &st);
            return st.st_mode & 07777;
        };
        EXPECT_EQ(mode("prog.hex"), c.hex);
        EXPECT_EQ(mode("prog.sym"), c.sym);
        EXPECT_EQ(mode("prog.hxh"), c.want_hxh);
        EXPECT_EQ(slurp(d / "prog.hex"), kHexOut);
        EXPECT_EQ(slurp(d / "prog.hxh"), kHxhOut);
        EXPECT_EQ(slurp(d / "prog.sym"), kSymOut);
    }
}

// Whatever bears a temporary output's name stops the run with error 7
// naming it, status 2, before any output is written: a leftover of another
// run (locked, as that run holds it), another program's plain file whose
// base name happens to be prog_tmp, a world-writable file that another user
// left in a shared folder. The run touches nothing: not the inputs (their
// bytes, mode and owner), not that file, and it leaves no file of its own.
// With the trace on, the log names the place of that check.
TEST(Safety, AnyFileBearingATemporaryNameStopsTheRun) {
    SKIP_FOR_WINDOWS();
    struct Case {
        const char* taken;
        bool locked, other_user;
        std::vector<std::string> args;
        std::vector<std::string> left;  // the run directory afterwards
    };
    const std::vector<Case> cases = {
        {"prog_tmp.hex", true, false, {"prog", "-Oprog", "+info"}, {"mrl.ifd", "prog.hex", "prog.sym", "prog_tmp.hex"}},
        {"prog_tmp.hxh", false, false, {"prog", "-Oprog", "-H"}, {"prog.hex", "prog.sym", "prog_tmp.hxh"}},
        {"prog_tmp.sym", false, true, {"prog", "-Oprog"}, {"prog.hex", "prog.sym", "prog_tmp.sym"}},
        {"prog_tmp.hex", false, true, {"prog", "-Oprog"}, {"prog.hex", "prog.sym", "prog_tmp.hex"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.taken);
        const TempDir d;
        spit(d / "prog.hex", kHex);
        spit(d / "prog.sym", kSym);
        ASSERT_EQ(chmod((d / "prog.hex").c_str(), 0600), 0);
        spit(d / c.taken, "another program's file\n");
        if (c.other_user) {
            ASSERT_EQ(chmod((d / c.taken).c_str(), 0666), 0);
            if (geteuid() == 0) {
                ASSERT_EQ(chown((d / c.taken).c_str(), 65534, 65534), 0);
            }
        }
        const int fd = open((d / c.taken).c_str(), O_RDWR);
        ASSERT_GE(fd, 0);
        if (c.locked) {
            ASSERT_EQ(flock(fd, LOCK_EX), 0);
        }
        struct stat before {};
        ASSERT_EQ(stat((d / "prog.hex").c_str(), &before), 0);
        const Result r = run(d.path(), c.args, [] { umask(0); });
        close(fd);
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(ends_with(r.out, std::string(" Error : Can't create '") + c.taken + "' file\n")) << r.out;
        EXPECT_EQ(names_in(d.path()), c.left);
        EXPECT_EQ(slurp(d / "prog.hex"), kHex);
        EXPECT_EQ(slurp(d / "prog.sym"), kSym);
        EXPECT_EQ(slurp(d / c.taken), "another program's file\n");
        struct stat after {};
        ASSERT_EQ(stat((d / "prog.hex").c_str(), &after), 0);
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_ino, before.st_ino);
        if (fs::exists(d / "mrl.ifd")) {
            EXPECT_NE(slurp(d / "mrl.ifd").find("++++++++++ Error exit at 2032 ++++++++++\n"), std::string::npos);
        }
    }
}

// While an in-place run lasts, its temporaries can be read and written by
// their owner only, whatever the umask: they take the input's mode only
// right before they replace it. The run waits here on an input that is a
// FIFO, after it has made its temporaries.
TEST(Safety, TemporariesArePrivateWhileTheRunLasts) {
    SKIP_FOR_WINDOWS();
    const TempDir d;
    ASSERT_EQ(mkfifo((d / "prog.hex").c_str(), 0644), 0);
    spit(d / "prog.sym", kSym);
    const Child c = start(d.path(), {"prog", "-Oprog"}, [] { umask(0); });
    const int writer = testutil::open_fifo_writer(d / "prog.hex", std::chrono::seconds(30));
    ASSERT_GE(writer, 0) << "the program never opened its input";
    // The temporaries are made before the HEX pass reads a line.
    bool all = false;
    for (int i = 0; i < 3000 && !all; ++i) {
        all = fs::exists(d / "prog_tmp.hex") && fs::exists(d / "prog_tmp.hxh") && fs::exists(d / "prog_tmp.sym");
        if (!all) usleep(10000);
    }
    EXPECT_TRUE(all);
    for (const char* name : {"prog_tmp.hex", "prog_tmp.hxh", "prog_tmp.sym"}) {
        struct stat st {};
        if (stat((d / name).c_str(), &st) == 0) {
            EXPECT_EQ(st.st_mode & 07777, 0600u) << name;
        }
    }
    kill(c.pid, SIGTERM);
    close(writer);
    const Result r = finish(c);
    EXPECT_EQ(r.status, 128 + SIGTERM);
    EXPECT_EQ(names_in(d.path()), (std::vector<std::string>{"prog.hex", "prog.sym"}));
}

// Two in-place runs of the same files at once, many times: every final name
// always ends up holding a complete conversion (of the original, or of the
// other run's result), no temporary file is left, at least one run
// succeeds, and a run that loses the race says so with error 7.
TEST(Safety, TwoInPlaceRunsAtOnceNeverLoseAFile) {
    SKIP_FOR_WINDOWS();
    // Inputs large enough that the two runs overlap.
    std::string hex, sym = "# SECTION INFORMATION\n";
    char buf[96];
    for (int i = 0; i < 20000; ++i) {
        if (i % 500 == 0) hex += (i / 500) % 2 ? ":020000021000EC\n" : ":020000020000FC\n";
        std::snprintf(buf, sizeof buf, ":10%04X00000102030405060708090A0B0C0D0E0F00\n", (i * 16) & 0xFFFF);
        hex += buf;
    }
    hex += ":00000001FF\n";
    for (int u = 1; u <= 6000; ++u) {
        std::snprintf(buf, sizeof buf, "%04X P 0 0 0 %08X 00000010 m%d.o\n", u,
                      u % 3 == 0 ? 0x10000u + u * 16u : (u * 16u) & 0xFFFFu, u);
        sym += buf;
    }
    // The results of one run, and of a second run over them.
    const TempDir ref;
    spit(ref / "prog.hex", hex);
    spit(ref / "prog.sym", sym);
    ASSERT_EQ(run(ref.path(), {"prog", "-Oprog"}).status, 0);
    const std::string hex1 = slurp(ref / "prog.hex"), hxh1 = slurp(ref / "prog.hxh"), sym1 = slurp(ref / "prog.sym");
    ASSERT_EQ(run(ref.path(), {"prog", "-Oprog"}).status, 0);
    const std::string hex2 = slurp(ref / "prog.hex"), sym2 = slurp(ref / "prog.sym");

#if defined(__SANITIZE_ADDRESS__)
    const int rounds = 15;  // each run is many times slower there
#else
    const int rounds = 50;
#endif
    const TempDir d;
    int lost = 0;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        for (const auto& e : fs::directory_iterator(d.path())) fs::remove(e.path());
        spit(d / "prog.hex", hex);
        spit(d / "prog.sym", sym);
        const Child a = start(d.path(), {"prog", "-Oprog"}, [] {});
        const Child b = start(d.path(), {"prog", "-Oprog"}, [] {});
        const Result ra = finish(a), rb = finish(b);
        int ok = 0;
        for (const Result* r : {&ra, &rb}) {
            if (r->status == 0) {
                ++ok;
                continue;
            }
            ++lost;
            EXPECT_EQ(r->status, 2) << r->out;
            EXPECT_TRUE(ends_with(r->out, " Error : Can't create 'prog_tmp.hex' file\n") ||
                        ends_with(r->out, " Error : Can't create 'prog_tmp.hxh' file\n") ||
                        ends_with(r->out, " Error : Can't create 'prog_tmp.sym' file\n"))
                << r->out;
        }
        EXPECT_GE(ok, 1);
        ASSERT_EQ(names_in(d.path()), (std::vector<std::string>{"prog.hex", "prog.hxh", "prog.sym"}));
        const std::string now_hex = slurp(d / "prog.hex"), now_sym = slurp(d / "prog.sym");
        EXPECT_TRUE(now_hex == hex1 || now_hex == hex2) << "prog.hex is no complete conversion";
        EXPECT_TRUE(now_sym == sym1 || now_sym == sym2) << "prog.sym is no complete conversion";
        EXPECT_EQ(slurp(d / "prog.hxh"), hxh1);
    }
    std::printf("%d of %d runs lost the race\n", lost, 2 * rounds);
}

// In a shared folder with the sticky bit, only the owner of a file or of
// the folder may remove its names. A run in place by a user who owns
// neither its inputs nor the folder cannot replace them (the rename over an
// input is refused), and it must not leave behind a second name of an input
// that it cannot remove, which would stop every later run: each input is
// kept aside as a copy of the run's own, removed again when the
// replacement is undone. The run can be repeated with the same result. As
// root, the test gives the inputs to one user and runs the program as
// another.
TEST(Safety, InPlaceInAStickyFolderLeavesNoNameItCannotRemove) {
    SKIP_FOR_WINDOWS();
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run the program as another user";
    const TempDir d;
    ASSERT_EQ(chmod(d.path().c_str(), 0755), 0);
    const fs::path shared = d / "shared";
    ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    for (const auto& [name, bytes] : {std::pair{"prog.hex", kHex}, std::pair{"prog.sym", kSym}}) {
        spit(shared / name, bytes);
        ASSERT_EQ(chown((shared / name).c_str(), 65533, 65533), 0);
        ASSERT_EQ(chmod((shared / name).c_str(), 0666), 0);
    }
    if (access(testutil::program().c_str(), X_OK) != 0) GTEST_SKIP() << "the program cannot be started";
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const Result r = run(shared, {"prog", "-Oprog"}, [] {
            if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(125);
        });
        if (r.status == 125) GTEST_SKIP() << "the program cannot be run as another user here";
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(ends_with(r.out, " Error : Can't create 'prog.hex' file\n")) << r.out;
        EXPECT_EQ(names_in(shared), (std::vector<std::string>{"prog.hex", "prog.sym"}));
        EXPECT_EQ(slurp(shared / "prog.hex"), kHex);
        EXPECT_EQ(slurp(shared / "prog.sym"), kSym);
    }
}

// The value of the extended attribute `attr` of `name`, or nullopt when it
// has none (or the file system has no such attributes).
std::optional<std::string> attribute(const fs::path& name, const char* attr) {
    char buf[4096];
    const ssize_t n = getxattr(name.c_str(), attr, buf, sizeof buf);
    if (n < 0) return std::nullopt;
    return std::string(buf, static_cast<size_t>(n));
}

// An access ACL in the form the system keeps it: owner read and write,
// user 65534 read, group read, mask read, others nothing.
std::string acl_user_may_read() {
    std::string acl;
    auto put = [&acl](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) acl.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    put(2, 4);  // version
    const uint32_t none = 0xFFFFFFFF;
    const uint32_t entries[][3] = {
        {0x01, 6, none}, {0x02, 4, 65534}, {0x04, 4, none}, {0x10, 4, none}, {0x20, 0, none}};
    for (const auto& e : entries) {
        put(e[0], 2);
        put(e[1], 2);
        put(e[2], 4);
    }
    return acl;
}

// In place, each replacement carries over the access ACL and the "user."
// attributes of the file it replaces (a new high HEX file those of the
// input HEX file), as it carries the permission bits; what the file system
// of the test folder does not keep is skipped.
TEST(Safety, InPlaceKeepsTheAclAndUserAttributes) {
    SKIP_FOR_WINDOWS();
    const TempDir d;
    spit(d / "prog.hex", kHex);
    spit(d / "prog.sym", kSym);
    ASSERT_EQ(chmod((d / "prog.hex").c_str(), 0640), 0);
    ASSERT_EQ(chmod((d / "prog.sym").c_str(), 0640), 0);
    const std::string note = "built on the night shift";
    if (setxattr((d / "prog.hex").c_str(), "user.origin", note.data(), note.size(), 0) != 0)
        GTEST_SKIP() << "the test folder keeps no user attributes";
    const std::string acl = acl_user_may_read();
    const bool acls = setxattr((d / "prog.sym").c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) == 0;
    const auto acl_before = attribute(d / "prog.sym", "system.posix_acl_access");
    const Result r = run(d.path(), {"prog", "-Oprog"});
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(slurp(d / "prog.hex"), kHexOut);
    EXPECT_EQ(slurp(d / "prog.sym"), kSymOut);
    EXPECT_EQ(attribute(d / "prog.hex", "user.origin"), note);
    EXPECT_EQ(attribute(d / "prog.hxh", "user.origin"), note);
    if (acls) {
        ASSERT_TRUE(acl_before.has_value());
        EXPECT_EQ(attribute(d / "prog.sym", "system.posix_acl_access"), acl_before);
        struct stat st {};
        ASSERT_EQ(stat((d / "prog.sym").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
    }
}

// An output name is opened as itself and decided on the open file, so
// another process that plants a link under it between any check of the
// name and its opening (the fault library plants it at the open itself)
// finds nothing to write through. A link to an input stops the run with
// error 7, the input and the link left as they are; a link to any other
// file, and the trace log's too, is replaced by a new file, the other file
// intact.
TEST(Safety, ALinkPlantedUnderAnOutputIsNeverWrittenThrough) {
    SKIP_FOR_WINDOWS();
#ifndef MRL_FAULT_SHIM
    GTEST_SKIP() << "needs the fault library";
#else
    const std::string kKeep = "another user's file\n";
    struct Case {
        const char* shim;
        const char* target;
        std::vector<std::string> args;
        int status;
        std::string tail;  // the end of standard output
        std::vector<std::string> left;
    };
    const std::vector<Case> cases = {
        {"symlink-at-open:out.hxh",
         "prog.sym",
         {"prog", "-Oout"},
         2,
         " Error : Can't create 'out.hxh' file\n",
         {"keep.txt", "out.hxh", "prog.hex", "prog.sym"}},
        {"hardlink-at-open:out.hex",
         "prog.sym",
         {"prog", "-Oout"},
         2,
         " Error : Can't create 'out.hex' file\n",
         {"keep.txt", "out.hex", "prog.hex", "prog.sym"}},
        {"symlink-at-open:out.sym",
         "keep.txt",
         {"prog", "-Oout"},
         0,
         "( prog.sym --> out.sym )\n",
         {"keep.txt", "out.hex", "out.hxh", "out.sym", "prog.hex", "prog.sym"}},
        {"hardlink-at-open:mrl.ifd",
         "keep.txt",
         {"prog", "-Oout", "-S", "+info"},
         0,
         "( prog.sym --> out.sym )\n",
         {"keep.txt", "mrl.ifd", "out.sym", "prog.hex", "prog.sym"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shim);
        const TempDir d;
        spit(d / "prog.hex", kHex);
        spit(d / "prog.sym", kSym);
        spit(d / "keep.txt", kKeep);
        const testutil::ShimSet shim(c.shim, c.target);
        const testutil::Outcome r = testutil::run(d.path(), c.args);
        EXPECT_EQ(r.status, c.status) << r.out;
        EXPECT_TRUE(ends_with(r.out, c.tail)) << r.out;
        EXPECT_EQ(names_in(d.path()), c.left);
        EXPECT_EQ(slurp(d / "prog.hex"), kHex);
        EXPECT_EQ(slurp(d / "prog.sym"), kSym);
        EXPECT_EQ(slurp(d / "keep.txt"), kKeep);
        if (c.status == 0) {
            EXPECT_EQ(slurp(d / "out.sym"), kSymOut);
            EXPECT_EQ(fs::hard_link_count(d / "keep.txt"), 1u);
        }
    }
#endif
}

// A FIFO at an output name is refused at once with error 7, whether or not
// a reader holds it open: the run neither waits for a reader (it used to,
// with its interrupts held back, so that only SIGKILL ended it) nor writes
// into it. A run that waits is ended by the time limit of the harness and
// fails the test.
TEST(Safety, AFifoAtAnOutputNameIsRefusedAtOnce) {
    SKIP_FOR_WINDOWS();
    struct Case {
        const char* fifo;
        bool reader;  // the test holds the FIFO open for reading
        std::vector<std::string> args;
        std::vector<std::string> left;  // the outputs made before it are removed, unless traced
    };
    const std::vector<Case> cases = {
        {"out.hex", false, {"prog", "-Oout"}, {"out.hex", "prog.hex", "prog.sym"}},
        {"out.hxh", true, {"prog", "-Oout", "-H"}, {"out.hxh", "prog.hex", "prog.sym"}},
        {"out.sym", false, {"prog", "-Oout", "-S", "+info"}, {"mrl.ifd", "out.sym", "prog.hex", "prog.sym"}},
        {"out.sym", true, {"prog", "-Oout"}, {"out.sym", "prog.hex", "prog.sym"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.fifo) + (c.reader ? " with a reader" : ""));
        const TempDir d;
        spit(d / "prog.hex", kHex);
        spit(d / "prog.sym", kSym);
        ASSERT_EQ(mkfifo((d / c.fifo).c_str(), 0644), 0);
        const int reader = c.reader ? open((d / c.fifo).c_str(), O_RDONLY | O_NONBLOCK) : -1;
        const testutil::Outcome r = testutil::Process(d.path(), c.args, 0, std::chrono::seconds(20)).finish();
        EXPECT_EQ(r.status, 2) << r.out;
        EXPECT_TRUE(ends_with(r.out, std::string(" Error : Can't create '") + c.fifo + "' file\n")) << r.out;
        EXPECT_TRUE(fs::is_fifo(d / c.fifo));
        if (reader >= 0) {
            char buf[16];
            EXPECT_LE(read(reader, buf, sizeof buf), 0) << "the run wrote into the FIFO";
            close(reader);
        }
        EXPECT_EQ(slurp(d / "prog.hex"), kHex);
        EXPECT_EQ(slurp(d / "prog.sym"), kSym);
        EXPECT_EQ(names_in(d.path()), c.left);
    }
}

}  // namespace
