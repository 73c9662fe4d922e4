// testutil.h: what every test shares: whole files read and written byte for
// byte, a temporary directory that removes itself, and the one way to start
// the program under test.
//
// The program is the binary of this build, or the one named by the
// environment variable MRL85_EXE (mrl85-report: MRL85_REPORT_EXE). MRL85_LAUNCHER, when set, is a command
// (words separated by blanks) that runs it, for example "wine". A program
// whose name ends in ".exe" is a Windows program: it is started through the
// Windows command interpreter as "cmd /c mrl85 ...", with its folder on the
// search path, so that it sees argument 0 as "mrl85", as when typed at a
// Windows prompt. The interpreter is named by its full Windows path: wine
// starts a bare "cmd" through a helper of its own (start.exe), which under
// load now and then fails to start anything ("ShellExecuteEx failed") and
// ends with status 1, as if the program had. Every other program is started
// with argument 0 "mrl85".
#ifndef MRL_TESTUTIL_H
#define MRL_TESTUTIL_H

// Set in a build with AddressSanitizer: tests that limit the address space
// are skipped there, since the sanitizer's shadow memory alone exceeds any
// useful limit.
#if defined(__SANITIZE_ADDRESS__)
#define MRL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MRL_ASAN 1
#endif
#endif

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace testutil {

namespace fs = std::filesystem;

inline std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void spit(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary);
    out << bytes;
}

// A fresh, empty directory below the system's temporary directory (TMPDIR),
// removed with all it holds when the object goes away: at the end of the
// test, and just as well when a failed assertion leaves the test early.
class TempDir {
public:
    TempDir() {
        std::string name = (fs::temp_directory_path() / "mrl85-test-XXXXXX").string();
        if (mkdtemp(name.data()) == nullptr)
            throw std::runtime_error("cannot create a temporary directory: " + std::string(std::strerror(errno)));
        path_ = name;
    }
    ~TempDir() {
        std::error_code ec;
        allow_removal(path_);
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return path_; }
    fs::path operator/(const fs::path& p) const { return path_ / p; }

private:
    // A test may have taken the permissions of a directory away; give them
    // back, top down, so that everything below can be removed.
    static void allow_removal(const fs::path& dir) {
        if (chmod(dir.c_str(), 0700) != 0) return;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(dir, ec))
            if (e.is_directory(ec) && !e.is_symlink(ec)) allow_removal(e.path());
    }

    fs::path path_;
};

// How a run of the program ended: its exit status (128 + the signal when a
// signal ended it) and what it wrote to standard output and standard error.
struct Outcome {
    int status = -1;
    std::string out, err;
};

// A program of the project: its file and the name it is started under.
struct Tool {
    std::string path, name;
};

// The program under test: MRL85_EXE, or this build's binary.
inline std::string program() {
    const char* exe = std::getenv("MRL85_EXE");
    return exe != nullptr && *exe != '\0' ? std::string(exe) : std::string(MRL_BINARY);
}
inline Tool mrl85_tool() { return {program(), "mrl85"}; }

// mrl85-report: MRL85_REPORT_EXE, or this build's binary.
inline Tool report_tool() {
    const char* exe = std::getenv("MRL85_REPORT_EXE");
    return {exe != nullptr && *exe != '\0' ? std::string(exe) : std::string(MRL_REPORT_BINARY), "mrl85-report"};
}

// A Windows program writes text (standard output and error, text files) with
// CR LF line ends: `windows` set, the text with each CR LF made LF, as other
// systems write it; else the text as it is.
inline std::string lf_text(std::string text, bool windows) {
    if (!windows) return text;
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out.push_back(text[i]);
    return out;
}

// True when the program is a Windows program (its name ends in ".exe").
inline bool windows_program(const std::string& path = program()) {
    std::string p = path;
    if (p.size() < 4) return false;
    for (char& c : p) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return p.compare(p.size() - 4, 4, ".exe") == 0;
}

// The words of MRL85_LAUNCHER, or none.
inline std::vector<std::string> launcher() {
    std::vector<std::string> words;
    const char* l = std::getenv("MRL85_LAUNCHER");
    std::istringstream in(l != nullptr ? l : "");
    std::string w;
    while (in >> w) words.push_back(w);
    return words;
}

// The program running in a directory of its own, standard output and
// standard error each into a pipe that this side collects. A process still
// running when the object goes away is killed and reaped.
//
// Under wine on a loaded machine, a Windows program now and then is not
// started at all: the command interpreter does not find it on its search
// path ("Can't recognize 'mrl85 ...' as an internal or external command",
// status 9009), or the launch ends with status 1 and writes nothing on
// either stream, which neither program ever does (mrl85 ends with 1 only on
// Ctrl-C, after a line end; mrl85-report never). finish() then starts the
// program again, at most twice more, and says so on standard error.
class Process {
public:
    // `address_space` > 0 limits the child's address space to that many
    // bytes, `file_size` > 0 the size of each file it writes; a run longer
    // than `timeout` is killed.
    Process(const fs::path& dir, const std::vector<std::string>& args, rlim_t address_space = 0,
            std::chrono::seconds timeout = std::chrono::seconds(120), rlim_t file_size = 0,
            const Tool& tool = mrl85_tool())
        : dir_(dir), timeout_(timeout), address_space_(address_space), file_size_(file_size) {
        words_ = launcher();
        for (char** e = environ; *e != nullptr; ++e) env_.emplace_back(*e);
        if (windows_program(tool.path)) {
            // The folder of the program goes first on the Windows search path.
            const fs::path exe = fs::absolute(tool.path);
            if (exe.filename() != tool.name + ".exe")
                throw std::runtime_error("a Windows program must be named " + tool.name + ".exe");
            if (words_.empty()) throw std::runtime_error("a Windows program needs MRL85_LAUNCHER");
            env_.push_back("WINEPATH=Z:" + exe.parent_path().string());
            for (const std::string& w : {std::string("C:\\windows\\system32\\cmd.exe"), std::string("/c"), tool.name})
                words_.push_back(w);
            file_ = words_[0];
            windows_ = true;
        } else if (words_.empty()) {
            words_.push_back(tool.name);  // argument 0; the file run is the program itself
            file_ = tool.path;
        } else {
            words_.push_back(tool.path);
            file_ = words_[0];
        }
        for (const std::string& a : args) words_.push_back(a);
        start();
    }
    ~Process() {
        if (!reaped_) {
            kill(-pid_, SIGKILL);
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
        if (err_ >= 0) close(err_);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }

    // What the program has written to standard output so far.
    const std::string& out() const { return result_.out; }

    // Collects output until standard output holds `text`, the program ends
    // or `wait` passes; true when the text is there.
    bool wait_for_output(const std::string& text, std::chrono::milliseconds wait) {
        const auto until = std::chrono::steady_clock::now() + wait;
        while (result_.out.find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() >= until || !collect(50)) break;
        }
        return result_.out.find(text) != std::string::npos;
    }

    // Waits for the end of the program, collecting its output; a program
    // that overruns its time is killed (status 128 + SIGKILL).
    Outcome finish() {
        for (int tries = 1;; ++tries) {
            while (!reaped_) {
                const bool open = collect(20);
                int ws = 0;
                const pid_t got = waitpid(pid_, &ws, open ? WNOHANG : 0);
                if (got == pid_) {
                    reaped_ = true;
                    result_.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
                } else if (std::chrono::steady_clock::now() > deadline_) {
                    kill(-pid_, SIGKILL);
                    kill(pid_, SIGKILL);
                }
            }
            // Everything the program wrote is in the pipes now; a process it
            // left behind that still holds them is not waited for.
            drain(out_, result_.out);
            drain(err_, result_.err);
            if (tries == 3 || !not_started()) return result_;
            std::fprintf(stderr, "testutil: wine did not start the program (status %d); started again\n",
                         result_.status);
            close(out_);
            close(err_);
            start();
        }
    }

private:
    // A Windows program that was not started: the command interpreter's
    // answer for a program it did not find (status 9009, the low byte 49 on
    // this side, and its message), or status 1 with nothing written.
    bool not_started() const {
        if (!windows_) return false;
        if (result_.status == (9009 & 0xFF))
            return result_.err.find("as an internal or external command") != std::string::npos;
        return result_.status == 1 && result_.out.empty() && result_.err.empty();
    }

    // Starts the program, with fresh pipes and a fresh deadline.
    void start() {
        result_ = Outcome{};
        out_open_ = err_open_ = true;
        reaped_ = false;
        deadline_ = std::chrono::steady_clock::now() + timeout_;
        // Everything the child needs is built before the fork.
        std::vector<char*> argv, envp;
        for (std::string& w : words_) argv.push_back(w.data());
        argv.push_back(nullptr);
        for (std::string& e : env_) envp.push_back(e.data());
        envp.push_back(nullptr);
        const char* dir = dir_.c_str();
        const char* file = file_.c_str();
        const rlim_t address_space = address_space_, file_size = file_size_;
        int out[2], err[2];
        if (pipe(out) != 0) throw std::runtime_error("pipe");
        if (pipe(err) != 0) throw std::runtime_error("pipe");
        pid_ = fork();
        if (pid_ < 0) throw std::runtime_error("fork");
        if (pid_ > 0) setpgid(pid_, pid_);  // also here, so that it holds before either side goes on
        if (pid_ == 0) {
            setpgid(0, 0);  // its own group, so a launcher's children can be stopped with it
            if (chdir(dir) != 0) _exit(126);
            dup2(out[1], 1);
            dup2(err[1], 2);
            close(out[0]), close(out[1]), close(err[0]), close(err[1]);
            if (address_space != 0) {
                const rlimit lim{address_space, address_space};
                if (setrlimit(RLIMIT_AS, &lim) != 0) _exit(126);
            }
            if (file_size != 0) {
                const rlimit lim{file_size, file_size};
                if (setrlimit(RLIMIT_FSIZE, &lim) != 0) _exit(126);
            }
            execvpe(file, argv.data(), envp.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
        fcntl(out_, F_SETFL, O_NONBLOCK);
        fcntl(err_, F_SETFL, O_NONBLOCK);
    }

    // Reads what is there on `fd`; false once the pipe is at its end.
    static bool drain(int fd, std::string& into) {
        char buf[4096];
        for (;;) {
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n > 0) {
                into.append(buf, static_cast<size_t>(n));
                continue;
            }
            return n < 0 && (errno == EAGAIN || errno == EINTR);
        }
    }

    // Waits up to `ms` milliseconds for output and collects it; false once
    // both pipes are at their end.
    bool collect(int ms) {
        pollfd p[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        const int nfds = (out_open_ ? 1 : 0) + (err_open_ ? 1 : 0);
        if (nfds == 0) return false;
        if (!out_open_) p[0] = p[1];
        if (poll(p, static_cast<nfds_t>(nfds), ms) < 0 && errno != EINTR) return false;
        if (out_open_) out_open_ = drain(out_, result_.out);
        if (err_open_) err_open_ = drain(err_, result_.err);
        return out_open_ || err_open_;
    }

    fs::path dir_;
    std::vector<std::string> words_, env_;
    std::string file_;
    bool windows_ = false;
    std::chrono::seconds timeout_;
    rlim_t address_space_, file_size_;
    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    bool out_open_ = true, err_open_ = true, reaped_ = false;
    std::chrono::steady_clock::time_point deadline_;
    Outcome result_;
};

// Opens the FIFO `path` for writing once a reader has opened it, without
// ever blocking: -1 when no reader came within `wait`, so that a program
// that never opens its input fails the test instead of hanging it.
inline int open_fifo_writer(const fs::path& path, std::chrono::milliseconds wait) {
    const auto give_up = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0 || errno != ENXIO || std::chrono::steady_clock::now() >= give_up) return fd;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Writes `bytes` into the FIFO `path` once a reader has opened it, and closes
// it, without ever blocking: the write goes as far as the pipe takes it at
// once. A program that never opens the FIFO, or reads it no more, makes this
// return false instead of hanging the test. `bytes` must fit in the pipe.
inline bool fifo_write(const fs::path& path, const std::string& bytes,
                       std::chrono::milliseconds wait = std::chrono::seconds(60)) {
    const int fd = open_fifo_writer(path, wait);
    if (fd < 0) return false;
    // A reader that has gone away makes the write fail, not kill the test.
    struct sigaction ignore = {};
    struct sigaction saved = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &saved);
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    sigaction(SIGPIPE, &saved, nullptr);
    close(fd);
    return n == static_cast<ssize_t>(bytes.size());
}

// Sets an environment variable for the runs of one test, and puts back what
// was there before, also when the test fails.
class EnvSet {
public:
    EnvSet(const char* name, const std::string& value) : name_(name) {
        const char* old = std::getenv(name);
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~EnvSet() {
        if (had_)
            setenv(name_, old_.c_str(), 1);
        else
            unsetenv(name_);
    }
    EnvSet(const EnvSet&) = delete;
    EnvSet& operator=(const EnvSet&) = delete;

private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

#ifdef MRL_FAULT_SHIM
// The fault library (shim/fault_shim.cpp) preloaded into the runs of one
// test with MRL_SHIM set to `action` ("ACTION:SUFFIX"), and MRL_SHIM_TARGET
// to `target` unless it is empty. A sanitizer's runtime wants to be loaded
// first; here the library comes first on purpose.
class ShimSet {
public:
    explicit ShimSet(const std::string& action, const std::string& target = "")
        : preload_("LD_PRELOAD", MRL_FAULT_SHIM),
          asan_("ASAN_OPTIONS", asan_options() + ":verify_asan_link_order=0"),
          action_("MRL_SHIM", action),
          target_("MRL_SHIM_TARGET", target) {}

private:
    static std::string asan_options() {
        const char* a = std::getenv("ASAN_OPTIONS");
        return a != nullptr ? a : "";
    }
    EnvSet preload_, asan_, action_, target_;
};
#endif

// Runs the program in `dir` with `args` to its end.
inline Outcome run(const fs::path& dir, const std::vector<std::string>& args, rlim_t address_space = 0) {
    return Process(dir, args, address_space).finish();
}

// Runs mrl85-report in `dir` with `args` to its end.
inline Outcome run_report(const fs::path& dir, const std::vector<std::string>& args) {
    return Process(dir, args, 0, std::chrono::seconds(120), 0, report_tool()).finish();
}

// A HEX file of `lines` data records, in low and high segments by turns.
inline std::string big_hex(int lines) {
    std::string s;
    char buf[64];
    for (int i = 0; i < lines; ++i) {
        if (i % 1000 == 0) s += (i / 1000) % 2 ? ":020000021000EC\n" : ":020000020000FC\n";
        std::snprintf(buf, sizeof buf, ":10%04X00000102030405060708090A0B0C0D0E0F00\n", (i * 16) & 0xFFFF);
        s += buf;
    }
    return s + ":00000001FF\n";
}

// A symbol file of `units` units (every third above FFFF), a function per
// unit, a label block per unit and a global label line per unit. Section
// names are long enough that each needs memory of its own, or, without
// `long_names`, all "P".
inline std::string big_sym(int units, bool long_names = true) {
    std::string s = "# SECTION INFORMATION\n";
    char buf[160];
    for (int u = 1; u <= units; ++u) {
        const unsigned addr = u % 3 == 0 ? 0x10000u + u * 16u : (u * 16u) & 0xFFFFu;
        if (long_names)
            std::snprintf(buf, sizeof buf,
                          "%04X section_name_long_enough_for_the_heap_%06d 0 0 0 %08X 00000010 m%d.o\n", u, u, addr, u);
        else
            std::snprintf(buf, sizeof buf, "%04X P 0 0 0 %08X 00000010 m%d.o\n", u, addr, u);
        s += buf;
    }
    s += "\n";
    for (int u = 1; u <= units; ++u) {
        std::snprintf(buf, sizeof buf, "# FUNC %04X f%d %04X 00000000 00000010\n", u, u, u);
        s += buf;
    }
    s += "\n";
    for (int u = 1; u <= units; ++u) {
        std::snprintf(buf, sizeof buf, "# LOCAL LABEL %04X\nlab%d 00000010\n\n", u, u);
        s += buf;
    }
    s += "# GLOBAL LABEL\n";
    for (int u = 1; u <= units; ++u) {
        std::snprintf(buf, sizeof buf, "g%d %X  h%d %X\n", u, u * 7, u, 0x10000 + u);
        s += buf;
    }
    return s;
}

}  // namespace testutil

#endif
