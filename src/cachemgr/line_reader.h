// Hands out the lines of a byte stream that arrives in blocks, under the line
// rules of line_bytes.h, copying a line only when it crosses blocks or has
// dropped bytes inside it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "cachemgr/line_bytes.h"

namespace reqwatch {

class LineReader {
  public:
    explicit LineReader(std::size_t blockSize = 256 * 1024) : blockSize_(blockSize) {}

    // The next line; false at the end of the data, where a last line without
    // its newline is not a line. `read(buffer, capacity)` supplies the next
    // block and returns its size, 0 at the end. The view stays valid until
    // the next call.
    template <typename Read>
    bool next(std::string_view& line, Read&& read) {
        if (begin_ == end_ && !fill(read)) {
            return false;
        }
        if (const char* after =
                viewLineBytes(line, buffer_.data() + begin_, buffer_.data() + end_)) {
            begin_ = static_cast<std::size_t>(after - buffer_.data());
            return true;
        }
        scratch_.clear();
        for (;;) {
            const char* after =
                takeLineBytes(scratch_, buffer_.data() + begin_, buffer_.data() + end_);
            if (after != nullptr) {
                begin_ = static_cast<std::size_t>(after - buffer_.data());
                line = scratch_;
                return true;
            }
            begin_ = end_;
            if (!fill(read)) {
                return false;
            }
        }
    }

    // Forgets what is buffered, for a new stream.
    void reset() {
        begin_ = end_ = 0;
        ended_ = false;
    }

  private:
    template <typename Read>
    bool fill(Read& read) {
        if (ended_) {
            return false;
        }
        if (buffer_.size() != blockSize_) {
            buffer_.resize(blockSize_);
        }
        const std::size_t count = read(buffer_.data(), buffer_.size());
        begin_ = 0;
        end_ = count;
        ended_ = count == 0;
        return count > 0;
    }

    const std::size_t blockSize_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool ended_ = false;
    std::string scratch_;  // a line that crosses blocks or has dropped bytes inside
};

}  // namespace reqwatch
