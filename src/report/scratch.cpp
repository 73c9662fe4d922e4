// scratch.cpp: ScratchStore, bytes kept in a scratch file while they are
// not needed (the earlier build of a comparison, while the later one is
// analysed), and read back once in order. See compare.h.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "report/compare.h"
#include "run/platform.h"

namespace report {

namespace {

// The bytes written to the file, and read from it, a block at a time.
constexpr size_t kBlock = size_t{1} << 16;

}  // namespace

// The first fault is the one told: what failed, the file's name and the
// system's reason.
void ScratchStore::fail(const char* what) {
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
void ScratchStore::held_out() {
    if (!held_.empty() && fault_.empty() && std::fwrite(held_.data(), 1, held_.size(), file_) != held_.size())
        fail("cannot write");
    held_.clear();
}

bool ScratchStore::written() {
    if (file_ == nullptr) return true;
    held_out();
    if (fault_.empty() && std::fflush(file_) != 0) fail("cannot write");
    return fault_.empty();
}

void ScratchStore::in_memory() {
    clear();
    file_tried_ = true;
}

bool ScratchStore::next(size_t n, const char** bytes) {
    if (!fault_.empty() || n > size_ - read_) return false;
    if (file_ == nullptr) {
        *bytes = held_.data() + read_;
        read_ += n;
        return true;
    }
    if (!reading_) {
        reading_ = true;
        held_out();
        if (!fault_.empty()) return false;
        errno = 0;
        if (std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0) {
            fail("cannot read back");
            return false;
        }
        block_from_ = block_to_ = 0;
    }
    // Bytes cut by the end of a block go on in the next.
    if (block_to_ - block_from_ < n) {
        const size_t have = block_to_ - block_from_;
        if (have + std::max(n, kBlock) > block_size_) {
            const size_t size = have + std::max(n, kBlock);
            std::unique_ptr<char[]> bigger(new char[size]);
            if (have > 0) std::memcpy(bigger.get(), block_.get() + block_from_, have);
            block_ = std::move(bigger);
            block_size_ = size;
        } else if (have > 0) {
            std::memmove(block_.get(), block_.get() + block_from_, have);
        }
        block_from_ = 0;
        block_to_ = have;
        const auto wanted = static_cast<size_t>(std::min<uint64_t>(size_ - read_ - have, block_size_ - have));
        errno = 0;
        if (std::fread(block_.get() + have, 1, wanted, file_) != wanted) {
            fail("cannot read back");
            return false;
        }
        block_to_ += wanted;
    }
    *bytes = block_.get() + block_from_;
    block_from_ += n;
    read_ += n;
    return true;
}

// No bytes, the file closed (which removes it) and the memory given back.
void ScratchStore::clear() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    file_name_.clear();
    file_tried_ = false;
    held_ = {};
    block_.reset();
    block_size_ = block_from_ = block_to_ = 0;
    size_ = read_ = 0;
    reading_ = false;
    fault_.clear();
}

}  // namespace report
