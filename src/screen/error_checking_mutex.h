// A non-recursive mutex that reports misuse (locking twice from one thread,
// unlocking without holding it) as an error instead of deadlocking.
#pragma once

#include <pthread.h>

#include <cerrno>
#include <system_error>

namespace reqwatch {

class ErrorCheckingMutex {
  public:
    ErrorCheckingMutex() {
        pthread_mutexattr_t attributes;
        pthread_mutexattr_init(&attributes);
        pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_ERRORCHECK);
        const int status = pthread_mutex_init(&mutex_, &attributes);
        pthread_mutexattr_destroy(&attributes);
        if (status != 0) {
            throw std::system_error(status, std::generic_category(), "mutex");
        }
    }
    ~ErrorCheckingMutex() { pthread_mutex_destroy(&mutex_); }
    ErrorCheckingMutex(const ErrorCheckingMutex&) = delete;
    ErrorCheckingMutex& operator=(const ErrorCheckingMutex&) = delete;

    void lock() {
        const int status = pthread_mutex_lock(&mutex_);
        if (status != 0) {
            throw std::system_error(status, std::generic_category(), "lock");
        }
    }
    bool try_lock() { return pthread_mutex_trylock(&mutex_) == 0; }
    void unlock() {
        const int status = pthread_mutex_unlock(&mutex_);
        if (status != 0) {
            throw std::system_error(status, std::generic_category(), "unlock");
        }
    }

  private:
    pthread_mutex_t mutex_;
};

}  // namespace reqwatch
