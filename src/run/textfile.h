// textfile.h: block-buffered line input and output for the two passes.
//
// Two ways to read lines. The HEX pass reads the way a text-mode line reader
// with a 256-byte buffer would: at most 255 characters per read, line end
// kept, a longer physical line arriving in pieces (get_line). The symbol
// file is read in whole lines of any length (get_long_line): a line that
// fits in the block comes whole; a longer one comes in pieces, each marked
// when more of the same line follows, so that a caller can gather them or
// pass them on, and never takes a piece for a line of its own.
//
// A carriage return right before a line feed is not part of the line (so
// CR LF files read like LF files on every platform); a lone carriage return
// stays. Files are opened in binary mode and both sides do the line-end
// translation themselves: the reader drops that one carriage return, the
// writer ends each line with the platform's line end (LF, or CR LF on
// Windows) as it writes a block out.
//
// A regular file is read through a mapping where the platform gives one
// (platform.h, input_map): the lines are then found in place and the "block"
// is the whole file, of which the callers see the same lines, pieces and
// bytes as when it is read: a long line still comes in pieces of at most a
// block, and a line whose carriage return is dropped is copied into the
// block instead of changed in place, since the mapping is read-only. A
// file that cannot be mapped (empty, a pipe, no address space left) is read
// into the block as before.
//
// An output may also be written into memory, within a fixed room: a helper
// thread's part of the symbol output, written out later in its place.
//
// Both passes spend nearly all their time here, once per line, so the common
// case of each call (a whole short line already in the block; room left in
// the output block) is inline and costs one search and one copy.
#ifndef MRL_TEXTFILE_H
#define MRL_TEXTFILE_H

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "run/platform.h"

inline constexpr size_t kLineMax = 255;  // characters per read

class InFile {
public:
    InFile() = default;
    InFile(InFile&& other) noexcept { *this = std::move(other); }
    InFile& operator=(InFile&& other) noexcept;
    InFile(const InFile&) = delete;
    InFile& operator=(const InFile&) = delete;
    // Gives a mapping back; the stream is its owner's to close.
    ~InFile() { input_unmap(&map_); }
    // `pass`: the pass that reads it, for input_map.
    bool open(const std::string& name, InputPass pass);
    void close();
    bool is_open() const { return fp_ != nullptr; }
    // Next line of at most 255 characters into `line` (valid until the next
    // call): 1 a line, 0 end of file, -1 a read error.
    int get_line(std::string_view& line);
    // Next whole line into `line` (valid until the next call), or, for a line
    // longer than the block, its first piece with `more` set. Results as for
    // get_line. Pieces of the previous line that were not asked for with
    // get_more are passed over.
    int get_long_line(std::string_view& line, bool& more);
    // The next piece of the line that get_long_line began, with `more` set
    // while further pieces follow: 1 a piece, 0 none left, -1 a read error.
    int get_more(std::string_view& piece, bool& more);
    // The next line, as get_long_line would return it, whose first character
    // is `c`; the lines before it are passed over without being looked at one
    // by one. Results as for get_long_line.
    int get_long_line_starting(char c, std::string_view& line, bool& more);
    // The lines get_long_line has begun since the file was opened or
    // rewound (with get_long_line_starting, only those it returned).
    uint64_t lines() const { return lines_; }
    // Back to the start of the file; false when the file cannot be read again.
    bool rewind();
    // Right after open or rewind: the file's first bytes, as many as the
    // block holds (all of a smaller file), without taking them.
    std::string_view head();
    // True when the open file is still as it was opened: the same size and
    // time of last modification (a file read twice must be one file), and,
    // read through a mapping, no fault on reading it.
    bool unchanged() const {
        FileStamp now;
        return opened_ok_ && !input_map_faulted(map_) && file_stamp(fp_, &now) && now == opened_;
    }
    // True when the file is read through a mapping.
    bool mapped() const { return map_.data != nullptr; }
    // True when the file is read through a mapping and what was read may not
    // be the file's: another process cut it short or changed it since it was
    // opened. Whatever a pass then made of it, the run ends as a read error.
    bool cut() const { return mapped() && !unchanged(); }
    // The unread bytes of the block, from the start of a line, for a pass
    // that takes many whole lines at a time: what is left of a line that
    // get_long_line began is passed over first, and the block is refilled
    // when less than a whole line window is left; empty at the end of the
    // file. The pass gives back what it has taken with advance(); lines it
    // leaves are read with get_line or get_long_line as usual.
    std::string_view unread() {
        if (mid_line_ || end_ - pos_ < kWindow) unread_slow();
        return {data_ + pos_, end_ - pos_};
    }
    // Takes the next `n` unread bytes, which end with a line feed.
    void advance(size_t n) {
        pos_ += n;
        mid_line_ = false;
    }

private:
    static constexpr size_t kWindow = kLineMax + 2;  // a full line, its CR and its LF
    bool take_line(size_t scan, size_t limit, std::string_view& line);
    std::string_view cr_dropped(size_t len);
    size_t reach() const;
    int get_line_slow(std::string_view& line);
    int get_long_slow(std::string_view& line, bool& more);
    int next_long_piece(std::string_view& piece, bool& more);
    void skip_rest();
    void skip_to(char c);
    void unread_slow();
    void fill(size_t want);
    std::FILE* fp_ = nullptr;
    std::unique_ptr<char[]> buf_;
    InputMap map_;
    const char* data_ = nullptr;  // the block (buf_), or the whole mapped file
    size_t pos_ = 0, end_ = 0;
    bool eof_ = false, err_ = false;
    bool mid_line_ = false;  // get_long_line: the line goes on past the last piece given
    uint64_t lines_ = 0;
    FileStamp opened_;  // the file as it was opened
    bool opened_ok_ = false;
    bool map_tried_ = false;  // the first fill has asked for a mapping
    InputPass pass_ = InputPass::kSym;
};

class OutFile {
public:
    // Allocates the block the file is written through, so that a file need
    // not be created before it is known that there is memory to write it.
    // open() does it when it has not been done.
    void prepare();
    bool open(const std::string& name);
    // Takes over a stream already open for writing (binary); false for null.
    bool open(std::FILE* fp);
    // Writes into `sink`, appended to it, instead of a file: a helper
    // thread's part of an output, which is written out later. The sink never
    // grows: a text that does not fit in its capacity fails as a write to a
    // full disk does.
    bool open(std::string* sink);
    // Closes the file, writing what is buffered; false if anything failed.
    bool close();
    bool is_open() const { return fp_ != nullptr || sink_ != nullptr; }
    // Appends text; false when a write to the file has failed.
    bool write(std::string_view text);
    // Writes everything buffered to the file; false on failure.
    bool flush();
    // Appends text; a long text is written to the file directly, without
    // passing through the block. False when a write has failed.
    bool write_long(std::string_view text);
    // Room for a text of at most `n` bytes that is made in place and then
    // appended with commit: in the block right after what it holds, when it
    // has that room, else in a spare buffer. Nothing is written to the file
    // here, so a text that is begun and then given up costs nothing and
    // leaves the output as it was. Valid until the next call on this file.
    char* room(size_t n);
    // Appends `text`, made in the room that room() gave; false when a write
    // to the file has failed.
    bool commit(std::string_view text);

private:
    bool write_slow(std::string_view text);
    bool write_long_slow(std::string_view text);
    char* room_slow(size_t n);
    bool emit(const char* p, size_t n);
    std::FILE* fp_ = nullptr;
    std::string* sink_ = nullptr;
    std::unique_ptr<char[]> buf_;
    size_t used_ = 0;
    bool failed_ = false;
    std::string spare_;  // room() where the block has none
};

// Bytes per read and per write. Small enough that the input block, the
// output block and the tables' hot part stay in the processor's cache, large
// enough that the system calls cost nothing next to the copying.
inline constexpr size_t kTextBlock = size_t{1} << 17;

// The line of `len` bytes at the read position whose carriage return, its
// last byte, is dropped for the line feed that follows it: in place in the
// block, or, from a read-only mapping, in a copy at the start of the block.
inline std::string_view InFile::cr_dropped(size_t len) {
    char* line = buf_.get();
    if (mapped())
        std::memcpy(line, data_ + pos_, len - 1);
    else
        line += pos_;
    line[len - 1] = '\n';
    return {line, len};
}

// A whole line whose line feed lies within the first `scan` bytes of the
// unread block and which has at most `limit` characters without the carriage
// return that may precede its line feed. That carriage return is dropped
// (cr_dropped), so the line is one run of bytes.
inline bool InFile::take_line(size_t scan, size_t limit, std::string_view& line) {
    const char* p = data_ + pos_;
    const void* hit = std::memchr(p, '\n', scan);
    if (hit == nullptr) return false;
    size_t i = static_cast<size_t>(static_cast<const char*>(hit) - p);
    bool crlf = i > 0 && p[i - 1] == '\r';
    size_t len = i + 1 - (crlf ? 1 : 0);
    if (len > limit) return false;
    line = crlf ? cr_dropped(len) : std::string_view(p, len);
    pos_ += i + 1;
    return true;
}

// The common case: at least one full line window is in the block and a line
// feed ends the line within the 255 characters.
inline int InFile::get_line(std::string_view& line) {
    if (end_ - pos_ >= kWindow && take_line(kLineMax + 1, kLineMax, line)) return 1;
    return get_line_slow(line);
}

// The same common case for whole lines: a line of up to 255 characters at
// the start of a line, with a full window in the block.
inline int InFile::get_long_line(std::string_view& line, bool& more) {
    more = false;
    ++lines_;
    if (!mid_line_ && end_ - pos_ >= kWindow && take_line(kLineMax + 1, kLineMax, line)) return 1;
    const int got = get_long_slow(line, more);
    if (got <= 0) --lines_;
    return got;
}

// Copies `n` bytes from `from` to `to` (which do not overlap). Most lines
// and most pieces of lines are short; those are moved with two overlapping
// moves of a fixed size, which never reach outside the n bytes, instead of a
// call.
inline void copy_bytes(char* to, const char* from, size_t n) {
    if (n >= 16 && n <= 64) {
        if (n <= 32) {
            std::memcpy(to, from, 16);
            std::memcpy(to + n - 16, from + n - 16, 16);
        } else {
            std::memcpy(to, from, 32);
            std::memcpy(to + n - 32, from + n - 32, 32);
        }
    } else if (n >= 4 && n < 16) {
        if (n >= 8) {
            std::memcpy(to, from, 8);
            std::memcpy(to + n - 8, from + n - 8, 8);
        } else {
            std::memcpy(to, from, 4);
            std::memcpy(to + n - 4, from + n - 4, 4);
        }
    } else if (n > 0 && n < 4) {
        to[0] = from[0];
        to[n / 2] = from[n / 2];
        to[n - 1] = from[n - 1];
    } else if (n > 64) {
        std::memcpy(to, from, n);
    }
}

inline bool OutFile::write(std::string_view text) {
    if (used_ + text.size() <= kTextBlock && !failed_) {
        copy_bytes(buf_.get() + used_, text.data(), text.size());
        used_ += text.size();
        return true;
    }
    return write_slow(text);
}

// A short text, the common case, goes through the block as write does.
inline bool OutFile::write_long(std::string_view text) {
    if (text.size() < kTextBlock / 8) return write(text);
    return write_long_slow(text);
}

inline char* OutFile::room(size_t n) {
    if (used_ + n <= kTextBlock && !failed_) return buf_.get() + used_;
    return room_slow(n);
}

inline bool OutFile::commit(std::string_view text) {
    // Made in the block: it is there already.
    if (text.data() == buf_.get() + used_ && used_ + text.size() <= kTextBlock && !failed_) {
        used_ += text.size();
        return true;
    }
    return write(text);
}

#endif
