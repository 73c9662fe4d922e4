// fsname.cpp: file names for the std::filesystem calls (see fsname.h), the
// one place where the platforms differ in how a name's bytes are read.
#include "run/fsname.h"

#ifdef _WIN32
#include <windows.h>

// The ANSI code page is what the C runtime's fopen, remove and rename use,
// so every call of the run reaches the same file by the same name.
std::filesystem::path fs_name(const std::string& name) {
    if (name.empty()) return {};
    const int len = static_cast<int>(name.size());
    const int wide = MultiByteToWideChar(CP_ACP, 0, name.data(), len, nullptr, 0);
    if (wide <= 0) return {};
    std::wstring w(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, name.data(), len, w.data(), wide);
    return std::filesystem::path(std::move(w));
}

#else

std::filesystem::path fs_name(const std::string& name) { return std::filesystem::path(name); }

#endif
