#include "support/PeWriter.h"

#include <initializer_list>
#include <utility>

namespace {

constexpr int kPe = 0x40;
constexpr int kOptional = kPe + 4 + 20;
constexpr int kSections = kOptional + 224;
constexpr quint32 kRva = 0x1000; // of the one section, ".rsrc", at 0x200 in the file

// Little-endian numbers at their offsets, each with its width in bytes.
void put(QByteArray& b, std::initializer_list<std::pair<int, quint32>> numbers, int width)
{
    for (const auto& [at, v] : numbers)
        for (int i = 0; i < width; ++i)
            b[at + i] = char((v >> (8 * i)) & 0xFF);
}

QByteArray program(const QByteArray& resources)
{
    QByteArray b(0x200, '\0');
    put(b, {{0, 0x5A4D}, {kPe + 4, 0x14C}, {kPe + 6, 1}, {kPe + 20, 224}, {kOptional, 0x10B}}, 2);
    put(b, {{0x3C, kPe}, {kPe, 0x00004550}, {kOptional + 92, 16}}, 4); // 16 data directories
    if (!resources.isEmpty())
        put(b, {{kOptional + 96 + 16, kRva}, {kOptional + 96 + 20, quint32(resources.size())}}, 4);
    b.replace(kSections, 5, ".rsrc");
    put(b, {{kSections + 8, 0x200}, {kSections + 12, kRva}, {kSections + 16, 0x200}, {kSections + 20, 0x200}},
        4);
    return b + (resources.isEmpty() ? QByteArray(0x200, '\0') : resources);
}

} // namespace

QByteArray makeVersionedProgram(quint16 major, quint16 minor, quint16 build, quint16 revision)
{
    QByteArray r(0x200, '\0');
    // Three directory levels, one entry each: type 16 (version) -> name 1 -> language 0x409 -> the
    // data entry at 0x48, which points at VS_VERSION_INFO at 0x58 and its fixed part at 0x80.
    put(r, {{0x0E, 1}, {0x26, 1}, {0x3E, 1}, {0x58, 92}, {0x5A, 52}}, 2);
    put(r, {{0x10, 16}, {0x14, 0x80000018}, {0x28, 1}, {0x2C, 0x80000030}, {0x40, 0x409}, {0x44, 0x48}}, 4);
    put(r, {{0x48, kRva + 0x58}, {0x4C, 92}}, 4);
    const QString key = QStringLiteral("VS_VERSION_INFO");
    for (int i = 0; i < key.size(); ++i)
        put(r, {{0x58 + 6 + 2 * i, key.at(i).unicode()}}, 2);
    put(r,
        {{0x80, 0xFEEF04BD},
         {0x84, 0x10000},
         {0x88, (quint32(major) << 16) | minor},
         {0x8C, (quint32(build) << 16) | revision}},
        4);
    return program(r);
}

QByteArray makeProgramWithoutVersion()
{
    return program(QByteArray());
}
