#include "app/password_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace reqwatch {

PasswordFromFile readPasswordFile(const std::string& path) {
    PasswordFromFile result;
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        result.failure = "Cannot read the password file " + path + ": " + std::strerror(errno);
        return result;
    }
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        const int error = errno;
        const bool regular = S_ISREG(status.st_mode);
        ::close(descriptor);
        result.failure = "Cannot read the password file " + path + ": " +
                         (regular ? std::strerror(error) : "not a regular file");
        return result;
    }
    if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        ::close(descriptor);
        result.failure = "The password file " + path +
                         " can be read or written by others; make it private with chmod 600 " +
                         path;
        return result;
    }
    // The first line is all that is needed; a password file is small.
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(descriptor, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            const int error = errno;
            ::close(descriptor);
            result.failure = "Cannot read the password file " + path + ": " + std::strerror(error);
            return result;
        }
        text.append(buffer, static_cast<std::size_t>(count));
        if (count == 0 || text.find('\n') != std::string::npos || text.size() > 64 * 1024) {
            break;
        }
    }
    ::close(descriptor);
    std::string line = text.substr(0, text.find('\n'));
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    if (line.empty()) {
        result.failure = "The password file " + path + " is empty";
        return result;
    }
    result.password = std::move(line);
    return result;
}

std::optional<std::string> passwordFromEnvironment() {
    const char* value = std::getenv("REQWATCH_PASSWORD");
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    return std::string(value);
}

}  // namespace reqwatch
