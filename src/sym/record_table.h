// record_table.h: the storage of the unit and function tables.
//
// A table of a large symbol file holds millions of records, and the first
// touch of every fresh page of memory costs a fault. The records lie in one
// block that grows in large steps (table_memory_grow: huge pages where the
// platform has them, growth without a copy where it can), so a table of
// 2,000,000 records takes a few dozen faults instead of tens of thousands.
// Records may move when the table grows; nothing keeps a pointer to one
// across an insertion.
#ifndef MRL_RECORD_TABLE_H
#define MRL_RECORD_TABLE_H

#include <cstddef>
#include <new>
#include <type_traits>

#include "run/platform.h"

template <class Record>
class record_table {
    static_assert(std::is_trivially_copyable_v<Record>, "records are moved as bytes");

public:
    record_table() = default;
    record_table(const record_table&) = delete;
    record_table& operator=(const record_table&) = delete;
    ~record_table() { clear(); }

    Record* begin() { return data_; }
    Record* end() { return data_ + size_; }
    const Record* begin() const { return data_; }
    const Record* end() const { return data_ + size_; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    Record& operator[](size_t i) { return data_[i]; }
    const Record& operator[](size_t i) const { return data_[i]; }
    Record& front() { return data_[0]; }
    const Record& front() const { return data_[0]; }
    Record& back() { return data_[size_ - 1]; }
    const Record& back() const { return data_[size_ - 1]; }

    // Adds a record at the end; false when the table cannot grow. No
    // exception: when memory has run out, even one may not be made.
    bool push_back(const Record& r) {
        if (size_ == cap_ && !grow()) return false;
        data_[size_++] = r;
        return true;
    }

    // Empties the table and gives its memory back.
    void clear() {
        table_memory_free(data_, bytes_);
        data_ = nullptr;
        size_ = cap_ = bytes_ = 0;
    }

private:
    // The first block is small, so that a small file takes no more memory
    // than it needs; from the second on, each is a whole number of huge pages
    // and twice the last.
    bool grow() {
        constexpr size_t kFirst = size_t{64} << 10, kHuge = size_t{2} << 20;
        const size_t bytes = bytes_ == 0 ? kFirst : bytes_ < kHuge ? kHuge : 2 * bytes_;
        if (bytes <= bytes_) return false;
        void* p = table_memory_grow(data_, bytes_, bytes);
        if (p == nullptr) return false;
        data_ = static_cast<Record*>(p);
        bytes_ = bytes;
        cap_ = bytes / sizeof(Record);
        return true;
    }

    Record* data_ = nullptr;
    size_t size_ = 0, cap_ = 0;  // records
    size_t bytes_ = 0;           // of the block
};

#endif
