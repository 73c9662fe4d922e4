// argv_driver.cpp: runs the real mrl85 entry point with a command line read
// from a file, so that the fuzzer can vary the arguments.
//
// Usage: mrl85-argv FILE, run in a work directory that holds the marker file
// ".mrl85-fuzz-work" and the reference inputs under ".seed/". FILE holds the
// arguments after the program name, one per line (at most 32). Before every
// run the work directory is put back to just the reference inputs, so each
// run starts from the same files and the runs leave nothing behind. A '/' or
// '\' in an argument becomes '_', which keeps every file the program creates
// or replaces inside the work directory.
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int mrl_main(int argc, char** argv);  // src/run/mrl.cpp, built with main renamed

namespace {

constexpr char kMarker[] = ".mrl85-fuzz-work";
constexpr char kSeedDir[] = ".seed";
constexpr size_t kMaxArgs = 32;
constexpr size_t kMaxInput = 4096;

std::string read_file(const char* name) {
    std::string text;
    std::FILE* f = std::fopen(name, "rb");
    if (f == nullptr) return text;
    char buf[4096];
    size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0 && text.size() < kMaxInput) text.append(buf, got);
    std::fclose(f);
    if (text.size() > kMaxInput) text.resize(kMaxInput);
    return text;
}

void write_file(const std::string& name, const std::string& bytes) {
    std::FILE* f = std::fopen(name.c_str(), "wb");
    if (f == nullptr) std::abort();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

// Removes everything in the work directory but the marker and the seed
// folder (a run creates only plain files and, in place, renames them), then
// copies the reference inputs back in.
void reset_work_dir() {
    if (access(kMarker, F_OK) != 0) {
        std::fputs("mrl85-argv: not in a fuzz work directory\n", stderr);
        std::abort();
    }
    DIR* d = opendir(".");
    if (d == nullptr) std::abort();
    std::vector<std::string> names;
    while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != ".." && n != kMarker && n != kSeedDir) names.push_back(n);
    }
    closedir(d);
    for (const std::string& n : names)
        if (unlink(n.c_str()) != 0 && rmdir(n.c_str()) != 0) std::abort();
    DIR* seeds = opendir(kSeedDir);
    if (seeds == nullptr) std::abort();
    while (dirent* e = readdir(seeds)) {
        std::string n = e->d_name;
        if (n == "." || n == "..") continue;
        write_file(n, read_file((std::string(kSeedDir) + "/" + n).c_str()));
    }
    closedir(seeds);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: mrl85-argv FILE\n", stderr);
        return 99;
    }
    const std::string text = read_file(argv[1]);
    reset_work_dir();

    static std::vector<std::string> args{"mrl85"};
    size_t start = 0;
    while (start < text.size() && args.size() <= kMaxArgs) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string a = text.substr(start, end - start);
        for (char& c : a)
            if (c == '/' || c == '\\') c = '_';
        args.push_back(a);
        start = end + 1;
    }
    static std::vector<char*> ptrs;
    for (std::string& a : args) ptrs.push_back(a.data());
    ptrs.push_back(nullptr);
    return mrl_main(static_cast<int>(args.size()), ptrs.data());
}
