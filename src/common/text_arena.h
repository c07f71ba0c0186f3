// Storage for the texts of one sample: copies laid end to end in a few large
// blocks, so that thousands of records refer to their texts without one
// allocation each. The texts stay where they are for the arena's life.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

namespace reqwatch {

class TextArena {
  public:
    TextArena() = default;
    TextArena(const TextArena&) = delete;
    TextArena& operator=(const TextArena&) = delete;

    // A copy of `text` that lives as long as the arena.
    std::string_view store(std::string_view text);
    // The same with the 26 ASCII capitals lower-cased.
    std::string_view storeLowerCase(std::string_view text);

    // Bytes held in blocks, used or not.
    std::size_t capacity() const { return capacity_; }

  private:
    char* allocate(std::size_t length);

    std::vector<std::unique_ptr<char[]>> blocks_;
    char* next_ = nullptr;
    std::size_t room_ = 0;
    std::size_t blockSize_ = 16 * 1024;
    std::size_t capacity_ = 0;
};

}  // namespace reqwatch
