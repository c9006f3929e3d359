// Descriptor: the owner of one open file descriptor, closed on every path.
#pragma once
#include "module/python.hpp"

#include <cerrno>
#include <unistd.h>

class Descriptor {
public:
    Descriptor() noexcept = default;
    explicit Descriptor(int fd) noexcept : fd_(fd) {}
    ~Descriptor() { close(); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }

    // Takes over `fd` after closing the one held.
    void reset(int fd) noexcept {
        close();
        fd_ = fd;
    }

    // Closes the descriptor without the interpreter lock (closing can flush
    // to a slow file system): 0, or -1 with errno set. An interrupted close
    // has released the descriptor all the same, so it is not an error.
    int close() noexcept {
        if (fd_ < 0)
            return 0;
        const int fd = fd_;
        fd_ = -1;
        int result;
        int error;
        Py_BEGIN_ALLOW_THREADS
        result = ::close(fd);
        error = errno;
        Py_END_ALLOW_THREADS
        if (result < 0 && error == EINTR)
            return 0;
        errno = error;
        return result;
    }

private:
    int fd_ = -1;
};
