#pragma once

#include <cstddef>
#include <memory>
#include <vector>

// A byte buffer whose growth leaves the new bytes as they are: file data and compressed data are
// written over at once, so zero-filling them first would only cost time.
template <typename T> struct DefaultInitAllocator : std::allocator<T>
{
    template <typename U> struct rebind
    {
        using other = DefaultInitAllocator<U>;
    };
    DefaultInitAllocator() = default;
    template <typename U> DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept {}
    template <typename U> void construct(U* p) noexcept { ::new (static_cast<void*>(p)) U; }
    template <typename U, typename... Args> void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

using Bytes = std::vector<unsigned char, DefaultInitAllocator<unsigned char>>;

// The first place from i up to end whose byte is marked in wanted, or end: the maskers pass over
// most of a text this way, four bytes a round.
inline size_t skipTo(const unsigned char* p, size_t i, size_t end, const bool* wanted)
{
    for (; i + 4 <= end; i += 4) {
        if (wanted[p[i]])
            return i;
        if (wanted[p[i + 1]])
            return i + 1;
        if (wanted[p[i + 2]])
            return i + 2;
        if (wanted[p[i + 3]])
            return i + 3;
    }
    while (i < end && !wanted[p[i]])
        ++i;
    return i;
}
