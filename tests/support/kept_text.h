// Texts for records built by hand in tests: a request refers to its texts
// rather than owning them, so a test's texts must outlive its records.
#pragma once

#include <string_view>

namespace testsupport {

// A copy of `text` that lives until the test program ends.
std::string_view keep(std::string_view text);

}  // namespace testsupport
