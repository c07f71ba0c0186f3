// A private folder under /tmp for the files of one test, removed with all of
// its contents when the object goes.
#pragma once

#include <sys/types.h>
#include <string>

namespace testsupport {

class TemporaryFolder {
  public:
    // Makes /tmp/<prefix>.XXXXXX with mode 0700.
    explicit TemporaryFolder(const std::string& prefix = "reqwatch-test");
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    TemporaryFolder(TemporaryFolder&& other) noexcept;
    TemporaryFolder& operator=(TemporaryFolder&& other) noexcept;

    const std::string& path() const { return path_; }
    // The path of a name inside the folder; the file need not exist.
    std::string file(const std::string& name) const;
    // Writes (or replaces) a file inside the folder and returns its path.
    std::string writeFile(const std::string& name, const std::string& content,
                          mode_t mode = 0644) const;

  private:
    void remove() noexcept;

    std::string path_;
};

}  // namespace testsupport
