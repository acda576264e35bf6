#include "platform/PeVersion.h"

#include <cstdint>
#include <optional>

namespace {

constexpr std::uint32_t kResourceTypeVersion = 16;
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;

class Reader
{
public:
    explicit Reader(const QByteArray& data) : m_data(data) {}

    std::optional<std::uint32_t> u16(qint64 at) const { return read(at, 2); }
    std::optional<std::uint32_t> u32(qint64 at) const { return read(at, 4); }
    qint64 size() const { return m_data.size(); }

private:
    std::optional<std::uint32_t> read(qint64 at, int bytes) const
    {
        if (at < 0 || at + bytes > m_data.size())
            return std::nullopt;
        std::uint32_t value = 0;
        for (int i = bytes - 1; i >= 0; --i)
            value = (value << 8) | static_cast<unsigned char>(m_data.at(at + i));
        return value;
    }
    const QByteArray& m_data;
};

struct Section
{
    std::uint32_t virtualAddress;
    std::uint32_t virtualSize;
    std::uint32_t rawPointer;
    std::uint32_t rawSize;
};

class PeImage
{
public:
    explicit PeImage(const QByteArray& data) : m_in(data) {}

    std::optional<QString> version()
    {
        if (m_in.u16(0) != 0x5A4D) // "MZ"
            return std::nullopt;
        const auto pe = m_in.u32(0x3C);
        if (!pe || m_in.u32(*pe) != 0x00004550) // "PE\0\0"
            return std::nullopt;
        const qint64 coff = *pe + 4;
        const auto sectionCount = m_in.u16(coff + 2);
        const auto optionalSize = m_in.u16(coff + 16);
        const qint64 optional = coff + 20;
        const auto magic = m_in.u16(optional);
        if (!sectionCount || !optionalSize || !magic || (*magic != 0x10b && *magic != 0x20b))
            return std::nullopt;
        const qint64 directories = optional + (*magic == 0x10b ? 96 : 112);
        const auto directoryCount = m_in.u32(directories - 4);
        if (!directoryCount || *directoryCount < 3)
            return std::nullopt;
        const auto resourceRva = m_in.u32(directories + 2 * 8);
        if (!resourceRva || *resourceRva == 0)
            return std::nullopt;
        m_sectionTable = optional + *optionalSize;
        m_sectionCount = *sectionCount;
        const auto resourceBase = offsetOf(*resourceRva);
        if (!resourceBase)
            return std::nullopt;
        m_resourceBase = *resourceBase;
        return versionFromResources();
    }

private:
    std::optional<qint64> offsetOf(std::uint32_t rva) const
    {
        for (std::uint32_t i = 0; i < m_sectionCount; ++i) {
            const qint64 at = m_sectionTable + static_cast<qint64>(i) * 40;
            const auto vsize = m_in.u32(at + 8), vaddr = m_in.u32(at + 12), rsize = m_in.u32(at + 16),
                       rptr = m_in.u32(at + 20);
            if (!vsize || !vaddr || !rsize || !rptr)
                return std::nullopt;
            const std::uint32_t extent = std::max(*vsize, *rsize);
            if (rva >= *vaddr && rva < *vaddr + extent)
                return static_cast<qint64>(*rptr) + (rva - *vaddr);
        }
        return std::nullopt;
    }

    // The data offset of the entry with the given id (or the first entry) of a resource directory.
    std::optional<std::uint32_t> entry(qint64 directory, std::optional<std::uint32_t> id) const
    {
        const auto named = m_in.u16(directory + 12), ids = m_in.u16(directory + 14);
        if (!named || !ids)
            return std::nullopt;
        const std::uint32_t count = *named + *ids;
        for (std::uint32_t i = 0; i < count; ++i) {
            const qint64 at = directory + 16 + static_cast<qint64>(i) * 8;
            const auto name = m_in.u32(at), offset = m_in.u32(at + 4);
            if (!name || !offset)
                return std::nullopt;
            if (!id || *name == *id)
                return *offset;
        }
        return std::nullopt;
    }

    std::optional<QString> versionFromResources() const
    {
        constexpr std::uint32_t kSubdirectory = 0x80000000u;
        const auto types = entry(m_resourceBase, kResourceTypeVersion);
        if (!types || !(*types & kSubdirectory))
            return std::nullopt;
        const auto names = entry(m_resourceBase + (*types & ~kSubdirectory), std::nullopt);
        if (!names || !(*names & kSubdirectory))
            return std::nullopt;
        const auto languages = entry(m_resourceBase + (*names & ~kSubdirectory), std::nullopt);
        if (!languages || (*languages & kSubdirectory))
            return std::nullopt;
        const auto dataRva = m_in.u32(m_resourceBase + *languages);
        const auto dataSize = m_in.u32(m_resourceBase + *languages + 4);
        if (!dataRva || !dataSize)
            return std::nullopt;
        const auto data = offsetOf(*dataRva);
        if (!data)
            return std::nullopt;
        const qint64 end = std::min<qint64>(*data + *dataSize, m_in.size());
        for (qint64 at = *data; at + 16 <= end; at += 4) {
            if (m_in.u32(at) != kFixedInfoSignature)
                continue;
            const std::uint32_t ms = m_in.u32(at + 8).value_or(0), ls = m_in.u32(at + 12).value_or(0);
            return QStringLiteral("%1.%2.%3.%4")
                .arg(ms >> 16)
                .arg(ms & 0xFFFF)
                .arg(ls >> 16)
                .arg(ls & 0xFFFF);
        }
        return std::nullopt;
    }

    Reader m_in;
    qint64 m_sectionTable = 0;
    std::uint32_t m_sectionCount = 0;
    qint64 m_resourceBase = 0;
};

} // namespace

QString readPeFileVersion(const QByteArray& image)
{
    return PeImage(image).version().value_or(QString());
}
