#include "support/HandMadeZip.h"

#include <zlib.h>

namespace {

void put(QByteArray& out, quint64 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(static_cast<char>((value >> (8 * i)) & 0xff));
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
    QByteArray out;
    QByteArray central;
    for (const RawEntry& e : entries) {
        const QByteArray packed = e.deflate ? rawDeflate(e.data) : e.data;
        const quint32 crc = e.crc.value_or(static_cast<quint32>(
            crc32(0, reinterpret_cast<const Bytef*>(e.data.constData()), static_cast<uInt>(e.data.size()))));
        const quint64 size = e.size.value_or(static_cast<quint64>(e.data.size()));
        const quint64 offset = e.headerOffset.value_or(static_cast<quint64>(out.size()));
        QByteArray common;
        put(common, e.flags, 2);
        put(common, e.deflate ? 8 : 0, 2);
        put(common, 0x6000, 2); // 12:00
        put(common, 0x5b84, 2); // 2025-12-04
        put(common, crc, 4);
        put(common, static_cast<quint64>(packed.size()), 4);
        put(common, size, 4);
        put(common, static_cast<quint64>(e.name.size()), 2);
        put(common, 0, 2);
        put(out, 0x04034b50, 4);
        put(out, 20, 2);
        out += common + e.name + packed;
        put(central, 0x02014b50, 4);
        put(central, 0x0314, 2);
        put(central, 20, 2);
        central += common;
        put(central, 0, 2 + 2 + 2);
        put(central, 0100644u << 16, 4);
        put(central, offset, 4);
        central += e.name;
    }
    const quint64 start = static_cast<quint64>(out.size());
    out += central;
    put(out, 0x06054b50, 4);
    put(out, 0, 4);
    put(out, static_cast<quint64>(entries.size()), 2);
    put(out, static_cast<quint64>(entries.size()), 2);
    put(out, static_cast<quint64>(central.size()), 4);
    put(out, start, 4);
    put(out, static_cast<quint64>(comment.size()), 2);
    return out + comment;
}
