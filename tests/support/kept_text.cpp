#include "support/kept_text.h"

#include <mutex>

#include "common/text_arena.h"

namespace testsupport {

std::string_view keep(std::string_view text) {
    static std::mutex lock;
    static auto* texts = new reqwatch::TextArena;  // never freed: texts outlive every test
    std::lock_guard<std::mutex> guard(lock);
    return texts->store(text);
}

}  // namespace testsupport
