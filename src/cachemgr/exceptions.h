// The program's two exception classes: transport failures of the network
// layer, and the user-facing failures of a fetch.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace reqwatch {

class sqconnException : public std::exception {
  public:
    explicit sqconnException(std::string text) : message(std::move(text)) {}
    const char* what() const noexcept override { return message.c_str(); }

    std::string message;
};

class sqstatException : public std::exception {
  public:
    enum Kind : std::int32_t {
        ConnectFailed = 1,
        FormatChanged = 2,
        AccessDenied = 3,
        TransportFailed = 4,
    };

    sqstatException(std::string text, Kind errorKind) : message(std::move(text)), kind(errorKind) {}
    const char* what() const noexcept override { return message.c_str(); }

    std::string message;
    std::int32_t kind;
};

// Thrown out of a fetch whose thread has been asked to stop; it is not a
// failure and never reaches the user.
class FetchCancelled : public std::exception {
  public:
    const char* what() const noexcept override { return "fetch cancelled"; }
};

// Thrown out of a network wait that reached the fetch's time limit.
class FetchTimedOut : public std::exception {
  public:
    const char* what() const noexcept override { return "fetch timed out"; }
};

}  // namespace reqwatch
