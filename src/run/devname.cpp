// devname.cpp: the names that Windows takes for devices instead of files.
// The rule is plain text handling, so it is built and tested everywhere;
// only the Windows build refuses such names (device_name, platform.h).
#include <cctype>

#include "run/platform.h"

namespace {

// The digit of a "COMn" or "LPTn" device: "1" to "9", or the superscripts
// one to three, which Windows takes as devices too (in UTF-8, the code page
// the program runs in, or as the single bytes of the Western code page).
bool device_digit(std::string_view d) {
    if (d.size() == 1) return (d[0] >= '1' && d[0] <= '9') || d == "\xB9" || d == "\xB2" || d == "\xB3";
    return d == "\xC2\xB9" || d == "\xC2\xB2" || d == "\xC2\xB3";
}

}  // namespace

// The last component of `name` (after the last "/" or "\", and after a
// drive letter that begins the name), cut at its first colon (Windows
// opens "AUX:" and "AUX:stream" as the device), without trailing blanks
// and dots, compared without regard to case. "COM0" and "LPT0" are
// ordinary names; "CONIN$" and "CONOUT$" are the console's.
bool windows_device_name(std::string_view name) {
    const size_t cut = name.find_last_of("/\\");
    std::string_view last = cut == std::string_view::npos ? name : name.substr(cut + 1);
    if (cut == std::string_view::npos && last.size() >= 2 && last[1] == ':' &&
        std::isalpha(static_cast<unsigned char>(last[0])))
        last.remove_prefix(2);
    last = last.substr(0, last.find(':'));
    while (!last.empty() && (last.back() == ' ' || last.back() == '.')) last.remove_suffix(1);
    std::string up;
    for (char c : last) up += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (up == "CON" || up == "PRN" || up == "AUX" || up == "NUL" || up == "CONIN$" || up == "CONOUT$") return true;
    return up.size() >= 4 && (up.compare(0, 3, "COM") == 0 || up.compare(0, 3, "LPT") == 0) &&
           device_digit(std::string_view(up).substr(3));
}
