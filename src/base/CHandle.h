#pragma once

#include <memory>
#include <utility>

#include <unistd.h>

// Owners of the C library's handles, so that every way out of a function lets go of them.

// The deleter that hands a pointer to its C library's free function.
template <auto Free> struct CFree
{
    template <typename T> void operator()(T* handle) const noexcept { Free(handle); }
};

// A pointer that its C library frees with one function: unique_c_ptr<DIR, ::closedir>.
template <typename T, auto Free> using unique_c_ptr = std::unique_ptr<T, CFree<Free>>;

// A file descriptor, closed when its owner goes; -1 holds none.
class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) noexcept : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    ~UniqueFd() { reset(); }

    int get() const noexcept { return m_fd; }
    explicit operator bool() const noexcept { return m_fd >= 0; }
    // Gives the descriptor to another owner.
    int release() noexcept { return std::exchange(m_fd, -1); }
    void reset(int fd = -1) noexcept
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }
    // Closes now and tells whether the close went well: a write can fail as late as the close.
    bool close() noexcept
    {
        const int fd = release();
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int m_fd = -1;
};
