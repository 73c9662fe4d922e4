// devname.cpp: the names that Windows takes for devices instead of files.
// The rule is plain text handling, so it is built and tested everywhere;
// only the Windows build refuses such names (device_name, platform.h).
#include <cctype>

#include "run/platform.h"

// The last component of `name` (after the last "/", "\" or drive colon),
// without trailing blanks, compared without regard to case. "COM0" and
// "LPT0" are ordinary names; "CONIN$" and "CONOUT$" are the console's.
bool windows_device_name(std::string_view name) {
    const size_t cut = name.find_last_of("/\\:");
    std::string_view last = cut == std::string_view::npos ? name : name.substr(cut + 1);
    while (!last.empty() && last.back() == ' ') last.remove_suffix(1);
    std::string up;
    for (char c : last) up += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (up == "CON" || up == "PRN" || up == "AUX" || up == "NUL" || up == "CONIN$" || up == "CONOUT$") return true;
    return up.size() == 4 && (up.compare(0, 3, "COM") == 0 || up.compare(0, 3, "LPT") == 0) && up[3] >= '1' &&
           up[3] <= '9';
}
