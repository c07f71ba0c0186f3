#include "resolver/host_name.h"

#include <arpa/inet.h>

namespace reqwatch {

void shortenHostName(std::string& name) {
    in_addr address{};
    if (inet_pton(AF_INET, name.c_str(), &address) == 1) {
        return;
    }
    const auto dot = name.find('.');
    if (dot != std::string::npos) {
        name.erase(dot);
    }
}

}  // namespace reqwatch
