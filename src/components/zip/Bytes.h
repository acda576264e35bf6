#pragma once

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
