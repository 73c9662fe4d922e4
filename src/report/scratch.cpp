// scratch.cpp: ScratchStore, bytes kept in a scratch file while they are
// not needed, and its Reader. See scratch.h.
#include "report/scratch.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "run/platform.h"

namespace report {

namespace {

// The bytes written to the file, and read from it, a block at a time.
constexpr size_t kBlock = size_t{1} << 16;

}  // namespace

// The first fault is the one told: what failed, the file's name and the
// system's reason.
void ScratchStore::fail(const char* what) const {
    if (fault_.empty()) fault_ = std::string(what) + " the scratch file '" + file_name_ + "': " + std::strerror(errno);
}

void ScratchStore::add(const void* bytes, size_t n) {
    if (!file_tried_) {
        file_tried_ = true;
        file_ = scratch_open(&file_name_);
        if (file_ != nullptr) std::setvbuf(file_, nullptr, _IOFBF, kBlock);
    }
    held_.append(static_cast<const char*>(bytes), n);
    size_ += n;
    if (file_ != nullptr && held_.size() >= kBlock) held_out();
}

// The bytes held, written to the file in one piece.
void ScratchStore::held_out() const {
    if (!held_.empty() && fault_.empty() && std::fwrite(held_.data(), 1, held_.size(), file_) != held_.size())
        fail("cannot write");
    held_.clear();
}

bool ScratchStore::written() const {
    if (file_ == nullptr) return true;
    held_out();
    if (fault_.empty() && std::fflush(file_) != 0) fail("cannot write");
    return fault_.empty();
}

void ScratchStore::in_memory() {
    clear();
    file_tried_ = true;
}

void ScratchStore::clear() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    file_name_.clear();
    file_tried_ = false;
    held_ = {};
    size_ = 0;
    fault_.clear();
}

ScratchStore::Reader::Reader(const ScratchStore& store) : store_(store) {}

// Bytes added after a reading go at the end of the file again.
ScratchStore::Reader::~Reader() {
    if (started_ && store_.file_ != nullptr) std::fseek(store_.file_, 0, SEEK_END);
}

// At least `n` bytes not yet handed out in the block, read from the file
// as they are needed (from its start, for the first); bytes cut by the end
// of a block go on in the next.
bool ScratchStore::Reader::have(size_t n) {
    if (!started_) {
        started_ = true;
        if (!store_.written()) return false;
        errno = 0;
        if (std::fseek(store_.file_, 0, SEEK_SET) != 0) {
            store_.fail("cannot read back");
            return false;
        }
    }
    if (!store_.fault_.empty()) return false;
    const size_t unread = to_ - from_;
    if (unread >= n) return true;
    if (n > store_.size_ - read_) return false;
    if (n > block_size_) {
        // Doubled as it grows, so that a long row is read in few steps.
        const size_t grown = std::max({n, 2 * block_size_, kBlock});
        std::unique_ptr<char[]> bigger(new char[grown]);
        if (unread > 0) std::memcpy(bigger.get(), block_.get() + from_, unread);
        block_ = std::move(bigger);
        block_size_ = grown;
    } else if (unread > 0) {
        std::memmove(block_.get(), block_.get() + from_, unread);
    }
    from_ = 0;
    to_ = unread;
    const auto wanted = static_cast<size_t>(std::min<uint64_t>(store_.size_ - read_ - unread, block_size_ - unread));
    errno = 0;
    if (std::fread(block_.get() + unread, 1, wanted, store_.file_) != wanted) {
        store_.fail("cannot read back");
        return false;
    }
    to_ += wanted;
    return true;
}

bool ScratchStore::Reader::next(size_t n, const char** bytes) {
    if (store_.file_ == nullptr) {
        if (!store_.fault_.empty() || n > store_.size_ - read_) return false;
        *bytes = store_.held_.data() + read_;
        read_ += n;
        return true;
    }
    if (!have(n)) return false;
    *bytes = block_.get() + from_;
    from_ += n;
    read_ += n;
    return true;
}

bool ScratchStore::Reader::next_row(std::string_view& row) {
    if (store_.file_ == nullptr) {
        if (!store_.fault_.empty() || at_end()) return false;
        const std::string_view rest = std::string_view(store_.held_).substr(static_cast<size_t>(read_));
        const size_t end = std::min(rest.find('\n'), rest.size());
        row = rest.substr(0, end);
        read_ += std::min(end + 1, rest.size());
        return true;
    }
    if (at_end() || !have(1)) return false;
    // More of the file is read until the row's line feed, or the last
    // byte, is in the block.
    const char* end;
    while ((end = static_cast<const char*>(std::memchr(block_.get() + from_, '\n', to_ - from_))) == nullptr &&
           read_ + (to_ - from_) < store_.size_)
        if (!have(to_ - from_ + 1)) return false;
    const size_t length = end != nullptr ? static_cast<size_t>(end - (block_.get() + from_)) : to_ - from_;
    row = std::string_view(block_.get() + from_, length);
    const size_t taken = std::min(length + 1, to_ - from_);
    from_ += taken;
    read_ += taken;
    return true;
}

}  // namespace report
