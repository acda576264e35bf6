#include "support/PeWriter.h"

namespace {

void put16(QByteArray& b, int at, quint32 v)
{
    b[at] = char(v & 0xFF);
    b[at + 1] = char((v >> 8) & 0xFF);
}

void put32(QByteArray& b, int at, quint32 v)
{
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}

constexpr int kPe = 0x40;
constexpr int kOptional = kPe + 4 + 20;
constexpr int kSections = kOptional + 224;
constexpr int kRaw = 0x200;
constexpr quint32 kRva = 0x1000;

QByteArray headers(quint32 resourceSize)
{
    QByteArray b(kRaw, '\0');
    put16(b, 0, 0x5A4D);
    put32(b, 0x3C, kPe);
    put32(b, kPe, 0x00004550);
    put16(b, kPe + 4, 0x14C);     // machine
    put16(b, kPe + 6, 1);         // one section
    put16(b, kPe + 20, 224);      // size of the optional header
    put16(b, kOptional, 0x10B);   // PE32
    put32(b, kOptional + 92, 16); // data directories
    if (resourceSize > 0) {
        put32(b, kOptional + 96 + 16, kRva);
        put32(b, kOptional + 96 + 20, resourceSize);
    }
    b.replace(kSections, 5, ".rsrc");
    put32(b, kSections + 8, 0x200);
    put32(b, kSections + 12, kRva);
    put32(b, kSections + 16, 0x200);
    put32(b, kSections + 20, kRaw);
    return b;
}

} // namespace

QByteArray MakeVersionedProgram(quint16 major, quint16 minor, quint16 build, quint16 revision)
{
    QByteArray r(0x200, '\0');
    // Three directory levels: type 16 (version) -> name 1 -> language 0x409 -> data entry.
    const auto directory = [&](int at, quint32 id, quint32 target) {
        put16(r, at + 14, 1);
        put32(r, at + 16, id);
        put32(r, at + 20, target);
    };
    directory(0x00, 16, 0x80000018);
    directory(0x18, 1, 0x80000030);
    directory(0x30, 0x409, 0x48);
    const int data = 0x58;
    put32(r, 0x48, kRva + data);
    put32(r, 0x4C, 92);
    put16(r, data, 92);
    put16(r, data + 2, 52);
    const QString key = QStringLiteral("VS_VERSION_INFO");
    for (int i = 0; i < key.size(); ++i)
        put16(r, data + 6 + 2 * i, key.at(i).unicode());
    const int fixed = data + 40;
    put32(r, fixed, 0xFEEF04BD);
    put32(r, fixed + 4, 0x10000);
    put32(r, fixed + 8, (quint32(major) << 16) | minor);
    put32(r, fixed + 12, (quint32(build) << 16) | revision);
    return headers(0x200) + r;
}

QByteArray MakeProgramWithoutVersion()
{
    return headers(0) + QByteArray(0x200, '\0');
}
