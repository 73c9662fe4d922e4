// textfile.h: block-buffered line input and output for the two passes.
//
// Both passes read their input line by line the way a text-mode line reader
// with a 256-byte buffer would: at most 255 characters per read, line end
// kept, a longer physical line arriving in pieces. A carriage return right
// before a line feed is not part of the line (so CR LF files read like LF
// files on every platform); a lone carriage return stays. Files are opened in
// binary mode and the reader does that translation itself, so the outputs end
// their lines with a bare line feed on every platform.
#ifndef MRL_TEXTFILE_H
#define MRL_TEXTFILE_H

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

inline constexpr size_t kLineMax = 255;  // characters per read

class InFile {
public:
    bool open(const std::string& name);
    void close();
    bool is_open() const { return fp_ != nullptr; }
    // Next line into `line` (valid until the next call): 1 a line, 0 end of
    // file, -1 a read error.
    int get_line(std::string_view& line);
    // Back to the start of the file; false when the file cannot be read again.
    bool rewind();

private:
    void fill();
    std::FILE* fp_ = nullptr;
    std::unique_ptr<char[]> buf_;
    size_t pos_ = 0, end_ = 0;
    bool eof_ = false, err_ = false;
};

class OutFile {
public:
    bool open(const std::string& name);
    // Closes the file, writing what is buffered; false if anything failed.
    bool close();
    bool is_open() const { return fp_ != nullptr; }
    // Appends text; false when a write to the file has failed.
    bool write(std::string_view text);
    // Writes everything buffered to the file; false on failure.
    bool flush();

private:
    std::FILE* fp_ = nullptr;
    std::unique_ptr<char[]> buf_;
    size_t used_ = 0;
    bool failed_ = false;
};

#endif
