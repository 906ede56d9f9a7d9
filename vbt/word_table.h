// A small open-addressing hash table from words (views into text that outlives the table) to
// values, for the per-word lookups of the reference scans: several million lookups of short
// words, where a node-based map spends most of its time hashing and chasing pointers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace igxl::vbt::detail {

inline uint64_t word_hash(std::string_view s) {
    uint64_t h = 0xcbf29ce484222325ull ^ s.size();  // FNV-1a; words are short
    for (unsigned char c : s) {
        h ^= c;
        h *= 0x100000001b3ull;
    }
    return h ^ (h >> 32);
}

template <class V>
class WordTable {
public:
    explicit WordTable(size_t expected = 16) {
        size_t cap = 16;
        while (cap < expected * 2) cap <<= 1;
        slots_.resize(cap);
    }

    V* find(std::string_view key) {
        const size_t mask = slots_.size() - 1;
        for (size_t i = word_hash(key) & mask;; i = (i + 1) & mask) {
            Slot& s = slots_[i];
            if (!s.used) return nullptr;
            if (s.key == key) return &s.value;
        }
    }
    const V* find(std::string_view key) const { return const_cast<WordTable*>(this)->find(key); }

    // The value under key, default-constructed when the key is new.
    V& operator[](std::string_view key) {
        if ((size_ + 1) * 2 > slots_.size()) grow();
        const size_t mask = slots_.size() - 1;
        for (size_t i = word_hash(key) & mask;; i = (i + 1) & mask) {
            Slot& s = slots_[i];
            if (!s.used) {
                s.used = true;
                s.key = key;
                ++size_;
                return s.value;
            }
            if (s.key == key) return s.value;
        }
    }

    size_t size() const { return size_; }

    template <class F>
    void for_each(F&& f) {
        for (Slot& s : slots_)
            if (s.used) f(s.key, s.value);
    }

private:
    struct Slot {
        std::string_view key;
        V value{};
        bool used = false;
    };
    void grow() {
        std::vector<Slot> old = std::move(slots_);
        slots_.clear();
        slots_.resize(old.size() * 2);
        size_ = 0;
        for (Slot& s : old)
            if (s.used) (*this)[s.key] = std::move(s.value);
    }
    std::vector<Slot> slots_;
    size_t size_ = 0;
};

}  // namespace igxl::vbt::detail
