// scratch.h: bytes that mrl85-report keeps in a scratch file instead of in
// memory while it does not need them: the rows of lists that may run to
// millions (the labels and blocks a large file drops), and the earlier build
// of a comparison while the later one is analysed. Needs the platform's
// scratch_open (a file of this run's own, which goes away when it is
// closed). Where no scratch file can be made, the bytes are kept in memory,
// and read back the same way.
#ifndef MRL_REPORT_SCRATCH_H
#define MRL_REPORT_SCRATCH_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace report {

// Bytes written one after another, then read back in the same order, as
// often as wanted. The file is made with the first bytes and goes away
// with the store.
class ScratchStore {
public:
    ScratchStore() = default;
    ScratchStore(const ScratchStore&) = delete;
    ScratchStore& operator=(const ScratchStore&) = delete;
    ~ScratchStore() { clear(); }
    // Adds bytes at the end. No bytes may be added while a Reader reads.
    void add(const void* bytes, size_t n);
    // Every byte handed to the file; false when the file did not take them
    // all (fault() says why).
    bool written() const;
    // Gives up the file and every byte: what is added from now on is kept
    // in memory (for bytes the file did not take, written again).
    void in_memory();
    uint64_t size() const { return size_; }
    // What went wrong with the scratch file, naming it; "" when nothing did.
    const std::string& fault() const { return fault_; }
    // No bytes, the file closed (which removes it) and the memory given back.
    void clear();

    // The bytes read back from the first on. One reader at a time reads a
    // store; a reader that stops early leaves the store as it was.
    class Reader {
    public:
        explicit Reader(const ScratchStore& store);
        ~Reader();
        Reader(const Reader&) = delete;
        Reader& operator=(const Reader&) = delete;
        // The next `n` bytes, at `*bytes` until the next call; false when
        // fewer are left or they cannot be read back.
        bool next(size_t n, const char** bytes);
        // The next row: the bytes up to the next line feed, without it (the
        // last row may have none); false at the end or when it cannot be
        // read back.
        bool next_row(std::string_view& row);
        // Whether every byte was read back.
        bool at_end() const { return read_ == store_.size_; }

    private:
        bool have(size_t n);
        const ScratchStore& store_;
        std::unique_ptr<char[]> block_;              // bytes read back from the file
        size_t block_size_ = 0, from_ = 0, to_ = 0;  // its size, and the bytes not yet handed out in it
        uint64_t read_ = 0;                          // the bytes handed out
        bool started_ = false;                       // the file is rewound for this reader
    };

private:
    void fail(const char* what) const;
    void held_out() const;
    std::FILE* file_ = nullptr;
    std::string file_name_;
    bool file_tried_ = false;
    mutable std::string held_;  // the bytes not yet in the file (without one: every byte)
    uint64_t size_ = 0;
    mutable std::string fault_;
};

}  // namespace report

#endif
