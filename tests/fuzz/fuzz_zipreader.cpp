// Feeds arbitrary bytes to the zip reader as a package, then reads every entry the way show and the
// viewer do: whole, in pieces through a stream with seeks, and as a capped text. Whatever the bytes,
// the reader must name the damage and go on; a crash, a leak, an exception, a hang or a read past
// the limits is a fault. The limits are small here so that a bomb costs the fuzzer little.
#include "viewer/ReadBudget.h"
#include "viewer/ZipReader.h"

#include <cstdint>

#include <sys/mman.h>
#include <unistd.h>

namespace {

// The package lives in memory: a file descriptor of this process, opened again by its path.
int packageFd()
{
    static const int fd = memfd_create("fuzz.zip", MFD_CLOEXEC);
    return fd;
}

bool writePackage(const std::uint8_t* data, std::size_t size)
{
    const int fd = packageFd();
    if (fd < 0 || ftruncate(fd, 0) != 0)
        return false;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (!writePackage(data, size))
        return 0;
    const ZipLimits limits{.maxRatio = 50,
                           .ratioFloor = quint64(1) << 20,
                           .maxEntrySize = quint64(4) << 20,
                           .maxTotalSize = quint64(16) << 20};
    const auto budget = std::make_shared<ReadBudget>(4096, 1 << 20);
    QString error;
    const std::shared_ptr<const ZipReader> zip =
        ZipReader::open(QStringLiteral("/proc/self/fd/%1").arg(packageFd()), limits, budget, &error);
    if (!zip)
        return 0;
    quint64 total = 0;
    for (const ZipEntry& entry : zip->entries()) {
        quint64 given = 0;
        QString problem;
        const bool intact = zip->read(
            entry,
            [&](const char*, size_t n) {
                given += n;
                return true;
            },
            &problem);
        // No entry gives more than its headers say, an intact one is within the limits, and all
        // of them together within the archive's budget.
        total += given;
        if (given > entry.size || (intact && (given != entry.size || entry.size > limits.maxEntrySize)) ||
            total > limits.archiveBudget(zip->fileSize()))
            __builtin_trap();
        QString why;
        (void)zip->readAll(entry, 4096, &why);
        EntryStream stream(zip, entry);
        char piece[512];
        (void)stream.seek(entry.size / 2);
        (void)stream.read(piece, sizeof piece);
        (void)stream.seek(0);
        while (stream.read(piece, sizeof piece) > 0)
            ;
        (void)(entry.name.size() + entry.unsafe.size() + entry.refused.size());
    }
    (void)zip->find(QStringLiteral("TSVERSION.TXT"));
    return 0;
}
