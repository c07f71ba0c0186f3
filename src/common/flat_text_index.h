// An open-addressing hash index from texts to positions in a list that holds
// the texts itself: one flat table of hashes and positions, no node per entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace reqwatch {

class FlatTextIndex {
  public:
    // A fast hash of short texts (addresses, request ids), seeded once per
    // process so that a page cannot be made of texts that collide.
    static std::uint64_t hashOf(std::string_view text) {
        std::uint64_t hash = seed() ^ (text.size() * 0x9e3779b97f4a7c15u);
        const char* at = text.data();
        std::size_t left = text.size();
        for (; left >= 8; at += 8, left -= 8) {
            std::uint64_t word;
            std::memcpy(&word, at, 8);
            hash = mix(hash ^ word);
        }
        if (left > 0) {
            std::uint64_t word = 0;
            std::memcpy(&word, at, left);
            hash = mix(hash ^ word);
        }
        return mix(hash);
    }

    bool empty() const { return size_ == 0; }

    void reserve(std::size_t count) {
        std::size_t capacity = 16;
        while (capacity < count * 2) {
            capacity *= 2;
        }
        if (capacity > slots_.size()) {
            rebuild(capacity);
        }
    }

    // The position stored for `text`, or -1; `textOf(position)` is the text
    // of a stored position.
    template <typename TextOf>
    std::int64_t find(std::string_view text, std::uint64_t hash, TextOf&& textOf) const {
        return findIf(hash, [&](std::size_t position) { return textOf(position) == text; });
    }

    // The stored position with this hash for which `same(position)` holds, or -1.
    template <typename Same>
    std::int64_t findIf(std::uint64_t hash, Same&& same) const {
        if (size_ == 0) {
            return -1;
        }
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
            const Slot& slot = slots_[at];
            if (slot.position == 0) {
                return -1;
            }
            if (slot.hash == hash && same(slot.position - 1)) {
                return static_cast<std::int64_t>(slot.position - 1);
            }
        }
    }

    // Adds a position for a text that is not stored yet.
    void insert(std::uint64_t hash, std::size_t position) {
        if ((size_ + 1) * 2 > slots_.size()) {
            rebuild(slots_.empty() ? 16 : slots_.size() * 2);
        }
        place(hash, static_cast<std::uint32_t>(position + 1));
        ++size_;
    }

  private:
    static std::uint64_t mix(std::uint64_t value) {
        value ^= value >> 30;
        value *= 0xbf58476d1ce4e5b9u;
        value ^= value >> 27;
        value *= 0x94d049bb133111ebu;
        return value ^ (value >> 31);
    }
    static std::uint64_t seed();

    struct Slot {
        std::uint64_t hash = 0;
        std::uint32_t position = 0;  // one more than the position; 0 for an empty slot
    };

    void place(std::uint64_t hash, std::uint32_t position) {
        const std::size_t mask = slots_.size() - 1;
        std::size_t at = hash & mask;
        while (slots_[at].position != 0) {
            at = (at + 1) & mask;
        }
        slots_[at] = {hash, position};
    }

    void rebuild(std::size_t capacity) {
        std::vector<Slot> old(capacity);
        old.swap(slots_);
        for (const Slot& slot : old) {
            if (slot.position != 0) {
                place(slot.hash, slot.position);
            }
        }
    }

    std::vector<Slot> slots_;
    std::size_t size_ = 0;
};

}  // namespace reqwatch
