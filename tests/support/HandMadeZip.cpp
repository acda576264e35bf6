#include "support/HandMadeZip.h"

#include <zlib.h>

#include <vector>

namespace {

constexpr quint64 kMax32 = 0xffffffffu;

void put(QByteArray& out, quint64 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(static_cast<char>((value >> (8 * i)) & 0xff));
}

quint32 crcOf(const QByteArray& data)
{
    return static_cast<quint32>(
        crc32(0, reinterpret_cast<const Bytef*>(data.constData()), static_cast<uInt>(data.size())));
}

// The fields that the local header and the directory record share, from the version needed on:
// flags, method, time, CRC, sizes, name length, extra length. Sizes past 32 bits go in the zip64
// extra field that extra receives.
QByteArray commonFields(quint16 flags, bool deflate, quint32 crc, quint64 packed, quint64 size,
                        qsizetype nameLength, QByteArray& extra)
{
    const bool wide = packed >= kMax32 || size >= kMax32;
    if (wide) {
        put(extra, 0x0001, 2);
        put(extra, 16, 2);
        put(extra, size, 8);
        put(extra, packed, 8);
    }
    QByteArray common;
    put(common, wide ? 45 : 20, 2);
    put(common, flags, 2);
    put(common, deflate ? 8 : 0, 2);
    put(common, 0x6000, 2); // 12:00
    put(common, 0x5b84, 2); // 2025-12-04
    put(common, crc, 4);
    put(common, wide ? kMax32 : packed, 4);
    put(common, wide ? kMax32 : size, 4);
    put(common, static_cast<quint64>(nameLength), 2);
    put(common, static_cast<quint64>(extra.size()), 2);
    return common;
}

} // namespace

QByteArray rawDeflate(const QByteArray& data)
{
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(static_cast<qsizetype>(deflateBound(&z, static_cast<uLong>(data.size()))), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(static_cast<qsizetype>(z.total_out));
    deflateEnd(&z);
    return out;
}

QByteArray handMade(const QList<RawEntry>& entries, const QByteArray& comment)
{
    // Each entry's bytes in the archive (local header, data, descriptor) first: an entry that
    // claims the next one's bytes needs their length.
    struct Written
    {
        QByteArray packedData;
        quint32 crc;
        quint64 size;
        quint64 packed;
    };
    std::vector<Written> written;
    for (const RawEntry& e : entries) {
        Written w;
        w.packedData = e.deflate ? rawDeflate(e.data) : e.data;
        w.crc = e.crc.value_or(crcOf(e.data));
        w.size = e.size.value_or(static_cast<quint64>(e.data.size()));
        w.packed = e.packed.value_or(static_cast<quint64>(w.packedData.size()));
        written.push_back(w);
    }
    const auto localBytes = [&](qsizetype i) {
        const RawEntry& e = entries.at(i);
        const Written& w = written[static_cast<size_t>(i)];
        const QByteArray name = e.localName.value_or(e.name);
        QByteArray extra;
        const quint16 flags = e.localFlags.value_or(e.flags) | (e.descriptor ? 0x0008 : 0);
        const bool deflate = e.localDeflate.value_or(e.deflate);
        const QByteArray common = e.descriptor
                                      ? commonFields(flags, deflate, 0, 0, 0, name.size(), extra)
                                      : commonFields(flags, deflate, e.localCrc.value_or(w.crc), w.packed,
                                                     e.localSize.value_or(w.size), name.size(), extra);
        QByteArray out;
        put(out, 0x04034b50, 4);
        out += common + name + extra + w.packedData;
        if (e.descriptor) {
            put(out, 0x08074b50, 4);
            put(out, e.descriptorCrc.value_or(w.crc), 4);
            put(out, w.packed, 4);
            put(out, w.size, 4);
        }
        return out;
    };
    for (qsizetype i = entries.size() - 2; i >= 0; --i)
        if (entries.at(i).claimsNext)
            written[static_cast<size_t>(i)].packed += static_cast<quint64>(localBytes(i + 1).size());
    QByteArray out;
    QByteArray central;
    qsizetype listed = 0;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const RawEntry& e = entries.at(i);
        const Written& w = written[static_cast<size_t>(i)];
        const quint64 offset = e.headerOffset.value_or(static_cast<quint64>(out.size()));
        out += localBytes(i);
        if (!e.listed)
            continue;
        ++listed;
        QByteArray extra = e.centralExtra;
        const QByteArray common = commonFields(e.flags | (e.descriptor ? 0x0008 : 0), e.deflate, w.crc,
                                               w.packed, w.size, e.name.size(), extra);
        put(central, 0x02014b50, 4);
        put(central, quint64(e.system) << 8 | 20, 2);
        central += common;
        put(central, 0, 2 + 2 + 2);
        put(central, quint64(e.mode) << 16, 4);
        put(central, offset, 4);
        central += e.name + extra;
    }
    const quint64 start = static_cast<quint64>(out.size());
    out += central;
    put(out, 0x06054b50, 4);
    put(out, 0, 4);
    put(out, static_cast<quint64>(listed), 2);
    put(out, static_cast<quint64>(listed), 2);
    put(out, static_cast<quint64>(central.size()), 4);
    put(out, start, 4);
    put(out, static_cast<quint64>(comment.size()), 2);
    return out + comment;
}
