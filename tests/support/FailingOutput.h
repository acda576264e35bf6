#pragma once

#include "components/zip/ZipOutput.h"

#include <cerrno>

// An archive output that fails as a full disk does once a number of bytes have been written.
template <std::uint64_t Limit> class FailingOutput final : public ZipOutput
{
public:
    static std::unique_ptr<ZipOutput> make() { return std::make_unique<FailingOutput>(); }

protected:
    long writeAt(int fd, const unsigned char* data, size_t size, std::uint64_t offset) override
    {
        if (offset + size > Limit) {
            if (offset >= Limit) {
                errno = ENOSPC;
                return -1;
            }
            size = static_cast<size_t>(Limit - offset);
        }
        return ZipOutput::writeAt(fd, data, size, offset);
    }
};
