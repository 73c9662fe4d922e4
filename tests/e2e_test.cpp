// e2e_test.cpp: runs every case folder under tests/e2e against the built
// mrl85 binary, each in a fresh temporary directory.
//
// A case folder holds:
//   args     the arguments after the program name, one per line
//            (the program is started as "mrl85", so argument 0 has 5 characters)
//   in/      files copied into the run directory first (optional)
//   setup    a shell script run in the run directory before mrl85 (optional),
//            for links, permissions and the like
//   stdout   the exact expected standard output
//   status   the expected exit status
//   files/   the exact set of files expected in the run directory afterwards,
//            compared byte for byte; in mrl.ifd the date line (line 2) is
//            compared as "   <date>". Without files/ the directory must hold
//            the files of in/, unchanged.
// Whenever a run in place (input name equal to the -O name) ends with a status
// other than 0, its input files must be byte-identical to before.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include "testfiles.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using testfiles::slurp;

std::vector<std::string> read_args(const fs::path& p) {
    std::vector<std::string> args;
    std::istringstream in(slurp(p));
    std::string line;
    while (std::getline(in, line)) args.push_back(line);
    return args;
}

// Every regular file (or link) below `dir`, by relative path, with its bytes;
// a link to a device or a directory is listed with the text "<link>".
std::map<std::string, std::string> snapshot(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) {
        const fs::path rel = it->path().lexically_relative(dir);  // never through a link
        if (it->is_symlink()) {
            std::error_code ec;
            files[rel.string()] = fs::is_regular_file(it->path(), ec) ? slurp(it->path()) : "<link>";
        } else if (it->is_regular_file()) {
            files[rel.string()] = slurp(it->path());
        } else if (it->is_directory()) {
            files[rel.string() + "/"] = "";
        }
    }
    return files;
}

std::string mask_date(std::string log) {
    size_t a = log.find('\n');
    if (a == std::string::npos) return log;
    size_t b = log.find('\n', a + 1);
    if (b == std::string::npos || log.compare(a + 1, 3, "   ") != 0) return log;
    return log.replace(a + 1, b - a - 1, "   <date>");
}

struct RunResult {
    int status = -1;
    std::string out;
};

RunResult run_mrl85(const fs::path& dir, const std::vector<std::string>& args) {
    const fs::path out_file = dir.parent_path() / (dir.filename().string() + ".stdout");
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(126);
        FILE* out = std::fopen(out_file.c_str(), "wb");
        if (out == nullptr) _exit(126);
        dup2(fileno(out), 1);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>("mrl85"));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        alarm(60);  // a hang fails the case instead of the suite
        execv(MRL_BINARY, argv.data());
        _exit(127);
    }
    int ws = 0;
    waitpid(pid, &ws, 0);
    RunResult r;
    r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
    r.out = slurp(out_file);
    fs::remove(out_file);
    return r;
}

std::vector<std::string> case_names() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(MRL_E2E_DIR))
        if (e.is_directory()) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class E2E : public ::testing::TestWithParam<std::string> {};

TEST_P(E2E, Case) {
    const fs::path src = fs::path(MRL_E2E_DIR) / GetParam();
    const fs::path dir = fs::temp_directory_path() / ("mrl85-e2e-" + std::to_string(getpid())) / GetParam();
    fs::remove_all(dir);
    fs::create_directories(dir);
    if (fs::exists(src / "in")) fs::copy(src / "in", dir, fs::copy_options::recursive);
    const auto before = snapshot(dir);
    if (fs::exists(src / "setup")) {
        const std::string cmd = "cd '" + dir.string() + "' && sh '" + (src / "setup").string() + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << "setup failed";
    }

    const std::vector<std::string> args = read_args(src / "args");
    const RunResult r = run_mrl85(dir, args);

    EXPECT_EQ(r.out, slurp(src / "stdout")) << "standard output";
    EXPECT_EQ(std::to_string(r.status) + "\n", slurp(src / "status")) << "exit status";

    auto after = snapshot(dir);
    // Trace logs (also when reached through a link) are compared without their date.
    for (auto& [name, bytes] : after)
        if (bytes.rfind("===== HEX, SYM convertor", 0) == 0) bytes = mask_date(bytes);
    std::map<std::string, std::string> want;
    if (fs::exists(src / "files"))
        want = snapshot(src / "files");
    else
        want = before;
    for (auto& [name, bytes] : want) {
        ASSERT_TRUE(after.count(name)) << "missing file " << name;
        EXPECT_EQ(after[name], bytes) << "content of " << name;
    }
    for (auto& [name, bytes] : after) EXPECT_TRUE(want.count(name)) << "unexpected file " << name;

    // In place, a failed run never touches an input.
    std::string in_name, out_name;
    for (const std::string& a : args) {
        if (a.size() > 2 && (a[0] == '-') && (a[1] == 'O' || a[1] == 'o'))
            out_name = a.substr(2);
        else if (!a.empty() && a[0] != '-' && a[0] != '+' && in_name.empty())
            in_name = a;
    }
    if (r.status != 0 && !in_name.empty() && in_name == out_name) {
        for (const char* ext : {".hex", ".sym"}) {
            const std::string f = in_name + ext;
            if (before.count(f)) {
                ASSERT_TRUE(after.count(f)) << "in place lost " << f;
                EXPECT_EQ(after[f], before.at(f)) << "in place changed " << f;
            }
        }
    }
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Cases, E2E, ::testing::ValuesIn(case_names()),
                         [](const ::testing::TestParamInfo<std::string>& param) {
                             std::string n = param.param;
                             std::replace_if(
                                 n.begin(), n.end(),
                                 [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
                             return n;
                         });

}  // namespace
