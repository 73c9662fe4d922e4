// textfile.cpp: block-buffered line input and output (see textfile.h).
#include "run/textfile.h"

#include <utility>

InFile& InFile::operator=(InFile&& other) noexcept {
    if (this == &other) return *this;
    input_unmap(&map_);
    fp_ = std::exchange(other.fp_, nullptr);
    buf_ = std::move(other.buf_);
    map_ = std::exchange(other.map_, InputMap{});
    data_ = std::exchange(other.data_, nullptr);
    pos_ = other.pos_;
    end_ = other.end_;
    eof_ = other.eof_;
    err_ = other.err_;
    mid_line_ = other.mid_line_;
    lines_ = other.lines_;
    opened_ = other.opened_;
    opened_ok_ = other.opened_ok_;
    map_tried_ = other.map_tried_;
    pass_ = other.pass_;
    other.pos_ = other.end_ = 0;
    return *this;
}

// The block is allocated whether the file will be mapped or not (see fill),
// for the lines whose carriage return is dropped, so that a run needs the
// same memory either way.
bool InFile::open(const std::string& name, InputPass pass) {
    input_unmap(&map_);
    fp_ = std::fopen(name.c_str(), "rb");
    if (fp_ == nullptr) return false;
    // Reads go straight into our own block; no second buffer in stdio.
    std::setvbuf(fp_, nullptr, _IONBF, 0);
    if (!buf_) buf_.reset(new char[kTextBlock]);
    pos_ = end_ = 0;
    eof_ = err_ = mid_line_ = false;
    lines_ = 0;
    opened_ok_ = file_stamp(fp_, &opened_);
    data_ = buf_.get();
    map_tried_ = false;
    pass_ = pass;
    return true;
}

// The mapping goes before the file is closed (Windows replaces no file that
// is mapped).
void InFile::close() {
    input_unmap(&map_);
    data_ = buf_.get();
    pos_ = end_ = 0;
    if (fp_ != nullptr) std::fclose(fp_);
    fp_ = nullptr;
}

// The unread bytes a piece of a long line may take: at most a block, also
// from a mapping.
size_t InFile::reach() const {
    const size_t left = end_ - pos_;
    return left < kTextBlock ? left : kTextBlock;
}

// Moves the unread bytes to the front of the block and reads until at least
// `want` unread bytes are present (want is at most the block) or the file
// ends.
//
// The first fill maps a regular file whole if it can be: then the whole file
// is the block, read to its end from the start. It is mapped only when it
// is first read, not when it is opened: the outputs are made between the
// two, and on Windows a mapped file is kept from every writer, also from
// this run's check that an output is not an input by another name.
void InFile::fill(size_t want) {
    if (!map_tried_) {
        map_tried_ = true;
        if (pos_ == 0 && end_ == 0 && input_map(fp_, pass_, &map_)) {
            data_ = map_.data;
            end_ = map_.size;
            eof_ = true;
        }
    }
    if (mapped()) return;
    if (pos_ > 0) {
        std::memmove(buf_.get(), buf_.get() + pos_, end_ - pos_);
        end_ -= pos_;
        pos_ = 0;
    }
    while (!eof_ && end_ < want) {
        size_t got = std::fread(buf_.get() + end_, 1, kTextBlock - end_, fp_);
        end_ += got;
        if (got == 0) {
            if (std::ferror(fp_)) err_ = true;
            eof_ = true;
        }
    }
}

// Every case of get_line: near the end of the block, at the end of the file,
// and the pieces of a line longer than 255 characters.
int InFile::get_line_slow(std::string_view& line) {
    if (input_map_faulted(map_)) return -1;
    if (end_ - pos_ < kWindow && !eof_) fill(kWindow);
    if (pos_ == end_) return err_ ? -1 : 0;
    size_t avail = end_ - pos_;
    if (take_line(avail < kLineMax + 1 ? avail : kLineMax + 1, kLineMax, line)) return 1;
    // No line end within reach: the next piece of a long line (or the last
    // line of a file that does not end in a line feed).
    size_t n = avail < kLineMax ? avail : kLineMax;
    line = std::string_view(data_ + pos_, n);
    pos_ += n;
    return 1;
}

// Every case of get_long_line: a line longer than 255 characters, a line cut
// by the end of the block, the end of the file, and a line begun before whose
// remaining pieces nobody asked for.
int InFile::get_long_slow(std::string_view& line, bool& more) {
    if (mid_line_) skip_rest();
    return next_long_piece(line, more);
}

int InFile::get_more(std::string_view& piece, bool& more) {
    more = false;
    if (!mid_line_) return 0;
    return next_long_piece(piece, more);
}

// From the read position to the end of its line, when the line end is in the
// block or can be brought into it; otherwise as much of the line as the full
// block holds, with `more` set. Such a piece never ends in a carriage return,
// which might be the first half of a CR LF line end. From a mapping the
// pieces are the same: a block's worth each, and `more` set whenever a
// whole block's worth was left, as a full block read is not yet the end of
// the file.
int InFile::next_long_piece(std::string_view& piece, bool& more) {
    more = false;
    if (input_map_faulted(map_)) return -1;
    for (;;) {
        const size_t avail = reach();
        if (avail > 0 && take_line(avail, avail, piece)) {
            mid_line_ = false;
            return 1;
        }
        if (eof_ || avail == kTextBlock) break;
        fill(avail + 1);
    }
    size_t n = reach();
    if (n == 0) {
        mid_line_ = false;
        return err_ ? -1 : 0;
    }
    // The block is full and holds no line end: the line goes on. At the end
    // of the file this is the last line, which has no line end.
    more = mapped() ? n == kTextBlock : !eof_;
    if (more && data_[pos_ + n - 1] == '\r') --n;
    piece = std::string_view(data_ + pos_, n);
    pos_ += n;
    mid_line_ = more;
    return 1;
}

// Passes over what is left of the current line, line end included.
void InFile::skip_rest() {
    while (mid_line_) {
        const char* p = data_ + pos_;
        const void* hit = pos_ < end_ ? std::memchr(p, '\n', end_ - pos_) : nullptr;
        if (hit != nullptr) {
            pos_ = static_cast<size_t>(static_cast<const char*>(hit) - data_) + 1;
            mid_line_ = false;
        } else {
            pos_ = end_;
            if (eof_)
                mid_line_ = false;
            else
                fill(1);
        }
    }
}

// Passes over whole lines none of which can begin with `c`: everything up to
// the last line feed before the first `c` in the block. A line starts right
// after every line feed, however long the line before it was, and no byte
// before that `c` is a `c`, so no line passed over begins with one. What
// comes after that line feed (the line holding the `c`, or a line cut by the
// end of the block) is left to get_long_line. Called only at the start of a
// line.
void InFile::skip_to(char c) {
    if (end_ - pos_ < kWindow && !eof_) fill(kWindow);
    const char* p = data_ + pos_;
    const void* hit = std::memchr(p, c, end_ - pos_);
    const char* lim = hit != nullptr ? static_cast<const char*>(hit) : data_ + end_;
    const char* q = lim;
    while (q > p && q[-1] != '\n') --q;
    pos_ = static_cast<size_t>(q - data_);
}

int InFile::get_long_line_starting(char c, std::string_view& line, bool& more) {
    for (;;) {
        if (mid_line_) skip_rest();
        // Where the next line already begins with `c` there is nothing to
        // pass over.
        if (end_ - pos_ < kWindow || data_[pos_] != c) skip_to(c);
        int got = get_long_line(line, more);
        if (got <= 0 || line[0] == c) return got;
    }
}

void InFile::unread_slow() {
    if (mid_line_) skip_rest();
    if (end_ - pos_ < kWindow && !eof_) fill(kWindow);
}

std::string_view InFile::head() {
    fill(kTextBlock);
    return {data_ + pos_, reach()};
}

// A mapped file is read again from the start of its mapping; the stream is
// still put back to its start, so that it is the file that is read again.
bool InFile::rewind() {
    if (fp_ == nullptr || std::fseek(fp_, 0, SEEK_SET) != 0) return false;
    std::clearerr(fp_);
    pos_ = 0;
    if (!mapped()) end_ = 0;
    eof_ = mapped();
    err_ = mid_line_ = false;
    lines_ = 0;
    return true;
}

// The line end of the platform's text files: CR LF on Windows, LF elsewhere.
#ifdef _WIN32
constexpr bool kLineEndCrLf = true;
#else
constexpr bool kLineEndCrLf = false;
#endif

// Writes n bytes of finished text to fp; false when the write fails. Lines
// are kept with a bare line feed until here. With CR LF line ends each line
// feed goes out as CR LF, and nothing else changes: a carriage return that a
// line holds of its own before its line feed stays, so "x\r\n" goes out as
// "x\r\r\n". The bytes are expanded through a fixed block, at most
// kStageIn of them at a time, which at most doubles them. Where the line end
// is LF the bytes go out as they are, in one write.
static bool write_out(std::FILE* fp, const char* p, size_t n) {
    if constexpr (!kLineEndCrLf) {
        return std::fwrite(p, 1, n, fp) == n;
    } else {
        constexpr size_t kStageIn = size_t{1} << 15;
        static char stage[2 * kStageIn];
        while (n > 0) {
            size_t take = n < kStageIn ? n : kStageIn;
            size_t out = 0;
            for (const char* end = p + take; p < end;) {
                const size_t left = static_cast<size_t>(end - p);
                const void* hit = std::memchr(p, '\n', left);
                const size_t run = hit != nullptr ? static_cast<size_t>(static_cast<const char*>(hit) - p) : left;
                std::memcpy(stage + out, p, run);
                out += run;
                p += run;
                if (hit != nullptr) {
                    stage[out++] = '\r';
                    stage[out++] = '\n';
                    ++p;
                }
            }
            if (std::fwrite(stage, 1, out, fp) != out) return false;
            n -= take;
        }
        return true;
    }
}

void OutFile::prepare() {
    if (!buf_) buf_.reset(new char[kTextBlock]);
}

bool OutFile::open(const std::string& name) { return open(std::fopen(name.c_str(), "wb")); }

bool OutFile::open(std::string* sink) {
    fp_ = nullptr;
    sink_ = sink;
    prepare();
    used_ = 0;
    failed_ = false;
    return true;
}

// What the block holds goes to the file, or to the sink.
bool OutFile::emit(const char* p, size_t n) {
    if (sink_ == nullptr) return write_out(fp_, p, n);
    if (n > sink_->capacity() - sink_->size()) return false;
    sink_->append(p, n);
    return true;
}

bool OutFile::open(std::FILE* fp) {
    sink_ = nullptr;
    fp_ = fp;
    if (fp_ == nullptr) return false;
    std::setvbuf(fp_, nullptr, _IONBF, 0);
    prepare();
    used_ = 0;
    failed_ = false;
    return true;
}

bool OutFile::flush() {
    if (fp_ == nullptr && sink_ == nullptr) return !failed_;
    if (used_ > 0 && !failed_) {
        if (!emit(buf_.get(), used_)) failed_ = true;
        if (fp_ != nullptr && std::fflush(fp_) != 0) failed_ = true;
    }
    used_ = 0;
    return !failed_;
}

// The text does not fit in what is left of the block: write the block out
// first; a text larger than a whole block goes straight to the file.
bool OutFile::write_slow(std::string_view text) {
    if (failed_) return false;
    if (text.empty()) return true;
    if (used_ + text.size() > kTextBlock) {
        if (!flush()) return false;
        if (text.size() >= kTextBlock) {
            if (!emit(text.data(), text.size())) failed_ = true;
            return !failed_;
        }
    }
    std::memcpy(buf_.get() + used_, text.data(), text.size());
    used_ += text.size();
    return true;
}

char* OutFile::room_slow(size_t n) {
    if (spare_.size() < n) spare_.resize(n);
    return spare_.data();
}

// A long text goes straight to the file, after what the block holds.
bool OutFile::write_long_slow(std::string_view text) {
    if (!flush()) return false;
    if (!emit(text.data(), text.size())) failed_ = true;
    return !failed_;
}

bool OutFile::close() {
    if (sink_ != nullptr) {
        const bool ok = flush();
        sink_ = nullptr;
        return ok;
    }
    if (fp_ == nullptr) return true;
    bool ok = flush();
    if (std::fclose(fp_) != 0) ok = false;
    fp_ = nullptr;
    return ok;
}
