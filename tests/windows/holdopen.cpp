// holdopen.cpp: a Windows helper of the tests. Opens the file named by its
// first argument for reading, sharing it for reading only (as an editor or
// a debugger holds a file), or with a second argument "delete" for reading
// and deletion as well (as a program that lets others rename the file), says
// "held" on standard output, and keeps the file open until its standard
// input ends. Status 1 when the file cannot be opened, 2 for bad arguments.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3 || (argc == 3 && std::strcmp(argv[2], "delete") != 0)) return 2;
    const DWORD share = argc == 3 ? FILE_SHARE_READ | FILE_SHARE_DELETE : FILE_SHARE_READ;
    HANDLE h = CreateFileA(argv[1], GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 1;
    std::fputs("held\n", stdout);
    std::fflush(stdout);
    char buf[64];
    DWORD got = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buf, sizeof buf, &got, nullptr) && got > 0) {
    }
    CloseHandle(h);
    return 0;
}
