#include "cachemgr/records.h"

#include <chrono>

namespace reqwatch {

SampleInstant SampleInstant::now() {
    const auto steady = std::chrono::steady_clock::now().time_since_epoch();
    return {std::time(nullptr),
            std::chrono::duration_cast<std::chrono::milliseconds>(steady).count()};
}

std::string requestKey(const UrlEntry& entry) {
    if (entry.worker == 0) {
        return std::string(entry.id);
    }
    return "kid" + std::to_string(entry.worker) + " " + std::string(entry.id);
}

}  // namespace reqwatch
