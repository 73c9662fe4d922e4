// holdopen.cpp: a Windows helper of the tests. Opens the file named by its
// argument for reading, sharing it for reading only (as an editor or a
// debugger holds a file), says "held" on standard output, and keeps the
// file open until its standard input ends. Status 1 when the file cannot
// be opened.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    HANDLE h =
        CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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
