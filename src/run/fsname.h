// fsname.h: a file name of this run as the std::filesystem calls must get it.
#ifndef MRL_FSNAME_H
#define MRL_FSNAME_H

#include <filesystem>
#include <string>

// The file that `name` (bytes as they came on the command line) names for
// fopen names the same file here. On POSIX the bytes are the name. On
// Windows fopen reads them in the process's ANSI code page (UTF-8 under the
// program's manifest), while std::filesystem would read them in the C
// runtime's locale and reach another file, or none.
std::filesystem::path fs_name(const std::string& name);

#endif
