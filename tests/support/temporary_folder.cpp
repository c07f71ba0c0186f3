#include "support/temporary_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace testsupport {

TemporaryFolder::TemporaryFolder(const std::string& prefix) {
    std::string pattern = "/tmp/" + prefix + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder " + pattern + ": " +
                                 std::strerror(errno));
    }
    path_ = buffer.data();
}

TemporaryFolder::~TemporaryFolder() {
    remove();
}

TemporaryFolder::TemporaryFolder(TemporaryFolder&& other) noexcept : path_(std::move(other.path_)) {
    other.path_.clear();
}

TemporaryFolder& TemporaryFolder::operator=(TemporaryFolder&& other) noexcept {
    if (this != &other) {
        remove();
        path_ = std::move(other.path_);
        other.path_.clear();
    }
    return *this;
}

std::string TemporaryFolder::file(const std::string& name) const {
    return path_ + "/" + name;
}

std::string TemporaryFolder::writeFile(const std::string& name, const std::string& content,
                                       mode_t mode) const {
    const std::string target = file(name);
    const int descriptor = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (descriptor < 0) {
        throw std::runtime_error("cannot write " + target + ": " + std::strerror(errno));
    }
    std::size_t written = 0;
    while (written < content.size()) {
        const ssize_t count = write(descriptor, content.data() + written, content.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            const std::string error = std::strerror(errno);
            close(descriptor);
            throw std::runtime_error("cannot write " + target + ": " + error);
        }
        written += static_cast<std::size_t>(count);
    }
    // The creation mode is filtered by the umask; the caller asked for this one.
    fchmod(descriptor, mode);
    close(descriptor);
    return target;
}

void TemporaryFolder::remove() noexcept {
    if (path_.empty()) {
        return;
    }
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    path_.clear();
}

}  // namespace testsupport
