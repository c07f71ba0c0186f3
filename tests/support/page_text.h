// Pieces of active_requests pages, written as the proxy writes them.
#pragma once

#include <string>

namespace testsupport {

inline std::string requestBlock(const std::string& id, const std::string& client,
                                const std::string& uri, const std::string& size,
                                const std::string& elapsed, const std::string& user = "-",
                                const std::string& pool = "0") {
    return "Connection: " + id + "\n\tFD 12, read 140, wrote 0\n\tremote: " + client +
           "\n\tlocal: 127.0.0.1:3128\n\tnrequests: 1\nuri " + uri +
           "\nlogType TCP_MISS\nout.offset " + size + ", out.size " + size +
           "\nreq_sz 140\nstart 1796896696.327132 (" + elapsed + " seconds ago)\nusername " + user +
           "\ndelay_pool " + pool + "\n\n";
}

}  // namespace testsupport
