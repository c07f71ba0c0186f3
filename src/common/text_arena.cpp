#include "common/text_arena.h"

#include <cstring>

#include "common/text_helpers.h"

namespace reqwatch {

namespace {

constexpr std::size_t largestBlock = 1024 * 1024;

}  // namespace

char* TextArena::allocate(std::size_t length) {
    if (length > room_) {
        // A text larger than a quarter block gets a block of its own, so
        // that a few long texts never waste the rest of a shared block.
        if (length > blockSize_ / 4) {
            blocks_.push_back(std::make_unique_for_overwrite<char[]>(length));
            capacity_ += length;
            return blocks_.back().get();
        }
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(blockSize_));
        capacity_ += blockSize_;
        next_ = blocks_.back().get();
        room_ = blockSize_;
        if (blockSize_ < largestBlock) {
            blockSize_ *= 2;
        }
    }
    char* start = next_;
    next_ += length;
    room_ -= length;
    return start;
}

std::string_view TextArena::store(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    char* copy = allocate(text.size());
    std::memcpy(copy, text.data(), text.size());
    return {copy, text.size()};
}

std::string_view TextArena::storeLowerCase(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    char* copy = allocate(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        copy[i] = lowerCaseCharacter(text[i]);
    }
    return {copy, text.size()};
}

}  // namespace reqwatch
