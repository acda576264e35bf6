#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

struct zlib_filefunc64_def_s;

// Where minizip writes the archive, through its file-function hooks: a file written from a 1 MiB
// buffer, so the entry headers that minizip rewrites after each entry are patched in memory rather
// than by a seek and a system call per entry. A write that fails (a full disk) is remembered with
// its reason. Tests derive from it to fail after a number of bytes.
class ZipOutput
{
public:
    ZipOutput();
    virtual ~ZipOutput();
    ZipOutput(const ZipOutput&) = delete;
    ZipOutput& operator=(const ZipOutput&) = delete;

    // The hooks to hand to zipOpen2_64; they call this object.
    void fillFunctions(zlib_filefunc64_def_s& functions);

    bool failed() const { return m_errno != 0; }
    QString errorText() const;

protected:
    // Writes bytes at an offset of the file; returns what was written, setting errno on a failure.
    virtual long writeAt(int fd, const unsigned char* data, size_t size, std::uint64_t offset);

private:
    friend struct ZipOutputHooks;

    bool open(const char* path);
    unsigned long write(const void* data, unsigned long size);
    long seek(std::uint64_t offset, int origin);
    std::uint64_t tell() const { return m_position; }
    int close();
    bool flush();
    bool writeOut(const unsigned char* data, size_t size, std::uint64_t offset);

    int m_fd = -1;
    std::vector<unsigned char> m_buffer;
    std::uint64_t m_bufferStart = 0; // file offset of the buffer's first byte
    std::uint64_t m_position = 0;
    std::uint64_t m_end = 0;
    int m_errno = 0;
};

// How the zip writer makes its output; tests put a failing one in place.
using ZipOutputFactory = std::unique_ptr<ZipOutput> (*)();
