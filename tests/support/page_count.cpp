#include "support/page_count.h"

#include <sstream>

namespace testsupport {

PageCount countPage(const std::string& page) {
    PageCount count;
    std::istringstream body(page);
    std::string client;
    std::string uri;
    std::string login;
    std::int64_t bytes = 0;
    const auto endBlock = [&] {
        if (!client.empty()) {
            ++count.requests;
            count.clients.insert(client);
            if (!login.empty() && login != "-") {
                count.logins.insert(login);
            }
            count.bytesByUri[uri] = bytes;
        }
        client.clear();
        uri.clear();
        login.clear();
        bytes = 0;
    };
    for (std::string line; std::getline(body, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const auto start = line.find_first_not_of(" \t");
        if (start == std::string::npos) {
            endBlock();
            continue;
        }
        const std::string text = line.substr(start);
        std::istringstream words(text);
        std::string key;
        words >> key;
        if (key == "remote:" || key == "peer:") {
            std::string address;
            words >> address;
            client = address.substr(0, address.rfind(':'));
        } else if (key == "uri") {
            words >> uri;
        } else if (key == "username") {
            words >> login;
        } else if (key == "out.offset") {
            const auto size = text.find("out.size ");
            bytes = size == std::string::npos ? 0 : std::stoll(text.substr(size + 9));
        }
    }
    endBlock();
    return count;
}

std::string bodyOf(const std::string& reply) {
    const auto end = reply.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : reply.substr(end + 4);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

}  // namespace testsupport
