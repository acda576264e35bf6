#include "components/zip/DeflateStitch.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr int kMaxBits = 15;

// Reads a deflate stream's bits, least significant first, 56 or more at a time: the walk over a
// chunk's stream is on the writer's hot path. Past the end it reads zeros; overrun() tells.
class BitReader
{
public:
    BitReader(const std::uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    // At least 56 bits in the buffer.
    void refill()
    {
        if (m_next + 8 <= m_size) {
            std::uint64_t word = 0;
            std::memcpy(&word, m_data + m_next, 8); // the byte order of x86 and ARM: little-endian
            m_buffer |= word << m_count;
            m_next += static_cast<size_t>((63 - m_count) >> 3);
            m_count |= 56;
            return;
        }
        for (; m_count <= 56; m_count += 8, ++m_next)
            m_buffer |= static_cast<std::uint64_t>(m_next < m_size ? m_data[m_next] : 0) << m_count;
    }
    // The next n bits; the caller has made them available.
    std::uint32_t peek(int n) const { return static_cast<std::uint32_t>(m_buffer & ((1ull << n) - 1)); }
    void skip(int n)
    {
        m_buffer >>= n;
        m_count -= n;
    }
    std::uint32_t bits(int n)
    {
        if (m_count < n)
            refill();
        const std::uint32_t v = peek(n);
        skip(n);
        return v;
    }
    int available() const { return m_count; }
    void alignToByte() { skip(m_count % 8); }
    void skipBytes(size_t n)
    {
        // At a byte boundary: what the buffer holds is read again from the new place.
        m_next = position() / 8 + n;
        m_buffer = 0;
        m_count = 0;
    }
    size_t position() const { return m_next * 8 - static_cast<size_t>(m_count); }
    bool overrun() const { return position() > m_size * 8; }

private:
    const std::uint8_t* m_data;
    size_t m_size;
    size_t m_next = 0; // the next byte to load
    std::uint64_t m_buffer = 0;
    int m_count = 0; // bits in the buffer
};

// A canonical Huffman code as lookup tables: a first table indexed by the next 10 bits (small
// enough to stay in the processor's nearest cache), and for longer codes a second table per first
// index, indexed by the bits after those.
class Decoder
{
public:
    bool build(const std::uint8_t* lengths, int count)
    {
        std::array<int, kMaxBits + 1> perLength{};
        m_maxBits = 0;
        for (int s = 0; s < count; ++s) {
            ++perLength[lengths[s]];
            m_maxBits = std::max<int>(m_maxBits, lengths[s]);
        }
        perLength[0] = 0;
        m_firstBits = std::clamp(m_maxBits, 1, kFirstBits); // a code with no symbols: any use is an error
        m_table.assign(size_t{1} << m_firstBits, 0);
        std::array<std::uint32_t, kMaxBits + 2> next{};
        std::uint32_t code = 0;
        for (int len = 1; len <= kMaxBits; ++len) {
            code = (code + static_cast<std::uint32_t>(perLength[len - 1])) << 1;
            next[len] = code;
        }
        for (int s = 0; s < count; ++s) {
            const int len = lengths[s];
            if (len == 0)
                continue;
            const std::uint32_t c = next[len]++;
            if (c >= (1u << len))
                return false; // over-subscribed
            std::uint32_t reversed = 0;
            for (int i = 0; i < len; ++i)
                reversed |= ((c >> i) & 1u) << (len - 1 - i);
            const std::uint32_t entry =
                static_cast<std::uint32_t>(s) | (static_cast<std::uint32_t>(len) << 16);
            if (len <= m_firstBits) {
                for (std::uint32_t at = reversed; at < (1u << m_firstBits); at += 1u << len)
                    m_table[at] = entry;
                continue;
            }
            // By index, not by reference: growing the table moves it.
            const size_t first = reversed & ((1u << m_firstBits) - 1);
            if (m_table[first] == 0) {
                m_table[first] = kLink | static_cast<std::uint32_t>(m_table.size());
                m_table.resize(m_table.size() + (size_t{1} << (m_maxBits - m_firstBits)), 0);
            }
            const std::uint32_t second = m_table[first] & 0xFFFF;
            for (std::uint32_t at = reversed >> m_firstBits; at < (1u << (m_maxBits - m_firstBits));
                 at += 1u << (len - m_firstBits))
                m_table[second + at] = entry;
        }
        return true;
    }

    // The next symbol, or -1 for bits that are no code.
    int decode(BitReader& in) const
    {
        std::uint32_t e = m_table[in.peek(m_firstBits)];
        if (e & kLink)
            e = m_table[(e & 0xFFFF) + (in.peek(m_maxBits) >> m_firstBits)];
        const int length = static_cast<int>((e >> 16) & 0x1F);
        if (length == 0)
            return -1;
        in.skip(length);
        return static_cast<int>(e & 0xFFFF);
    }

private:
    static constexpr int kFirstBits = 10;
    static constexpr std::uint32_t kLink = 1u << 31;
    std::vector<std::uint32_t> m_table; // symbol | length << 16, or kLink | where a second table starts
    int m_maxBits = 0;
    int m_firstBits = 0;
};

constexpr std::array<std::uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<std::uint8_t, 30> kDistanceExtra = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                                         6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::array<std::uint8_t, 19> kCodeLengthOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                           11, 4,  12, 3, 13, 2, 14, 1, 15};

bool skipCodes(BitReader& in, const Decoder& literals, const Decoder& distances)
{
    for (;;) {
        if (in.available() < 48) // the most one length and distance take
            in.refill();
        const int symbol = literals.decode(in);
        if (symbol < 0 || in.overrun())
            return false;
        if (symbol < 256)
            continue;
        if (symbol == 256)
            return true;
        if (symbol > 285)
            return false;
        in.bits(kLengthExtra[static_cast<size_t>(symbol - 257)]);
        const int distance = distances.decode(in);
        if (distance < 0 || distance > 29)
            return false;
        in.bits(kDistanceExtra[static_cast<size_t>(distance)]);
    }
}

bool fixedDecoders(Decoder& literals, Decoder& distances)
{
    std::array<std::uint8_t, 288> lit{};
    for (size_t s = 0; s < lit.size(); ++s)
        lit[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    std::array<std::uint8_t, 30> dist{};
    dist.fill(5);
    return literals.build(lit.data(), 288) && distances.build(dist.data(), 30);
}

bool dynamicDecoders(BitReader& in, Decoder& literals, Decoder& distances)
{
    const int hlit = static_cast<int>(in.bits(5)) + 257;
    const int hdist = static_cast<int>(in.bits(5)) + 1;
    const int hclen = static_cast<int>(in.bits(4)) + 4;
    if (hlit > 286 || hdist > 30)
        return false;
    std::array<std::uint8_t, 19> codeLengths{};
    for (int i = 0; i < hclen; ++i)
        codeLengths[kCodeLengthOrder[static_cast<size_t>(i)]] = static_cast<std::uint8_t>(in.bits(3));
    Decoder lengthCode;
    if (!lengthCode.build(codeLengths.data(), 19))
        return false;
    std::array<std::uint8_t, 286 + 30> lengths{};
    for (int i = 0; i < hlit + hdist;) {
        if (in.available() < 16)
            in.refill();
        const int symbol = lengthCode.decode(in);
        if (symbol < 0 || in.overrun())
            return false;
        if (symbol < 16) {
            lengths[static_cast<size_t>(i++)] = static_cast<std::uint8_t>(symbol);
            continue;
        }
        int repeat = 0;
        std::uint8_t value = 0;
        if (symbol == 16) {
            if (i == 0)
                return false;
            value = lengths[static_cast<size_t>(i - 1)];
            repeat = 3 + static_cast<int>(in.bits(2));
        } else if (symbol == 17) {
            repeat = 3 + static_cast<int>(in.bits(3));
        } else {
            repeat = 11 + static_cast<int>(in.bits(7));
        }
        if (i + repeat > hlit + hdist)
            return false;
        while (repeat-- > 0)
            lengths[static_cast<size_t>(i++)] = value;
    }
    return literals.build(lengths.data(), hlit) && distances.build(lengths.data() + hlit, hdist);
}

} // namespace

namespace DeflateStitch {

std::optional<StreamEnd> findStreamEnd(const std::uint8_t* data, size_t size)
{
    BitReader in(data, size);
    Decoder literals;
    Decoder distances;
    for (;;) {
        const size_t header = in.position();
        const bool final = in.bits(1) != 0;
        const std::uint32_t type = in.bits(2);
        if (type == 0) {
            in.alignToByte();
            const std::uint32_t length = in.bits(16);
            const std::uint32_t check = in.bits(16);
            if ((length ^ 0xFFFFu) != check)
                return std::nullopt;
            in.skipBytes(length);
        } else if (type == 1 || type == 2) {
            if (!(type == 1 ? fixedDecoders(literals, distances)
                            : dynamicDecoders(in, literals, distances)) ||
                !skipCodes(in, literals, distances))
                return std::nullopt;
        } else {
            return std::nullopt;
        }
        if (in.overrun())
            return std::nullopt;
        if (final)
            return StreamEnd{header, in.position()};
    }
}

bool makeContinuable(Bytes& stream)
{
    const std::optional<StreamEnd> end = findStreamEnd(stream.data(), stream.size());
    if (!end)
        return false;
    stream[end->finalBlockBit / 8] &= static_cast<std::uint8_t>(~(1u << (end->finalBlockBit % 8)));
    // Then an empty stored block: three zero header bits, zeros to the byte boundary, 0000 FFFF.
    const size_t bytes = (end->endBit + 3 + 7) / 8;
    stream.resize(bytes, 0);
    const size_t lastByte = end->endBit / 8;
    if (lastByte < bytes)
        stream[lastByte] &= static_cast<std::uint8_t>((1u << (end->endBit % 8)) - 1);
    for (size_t i = lastByte + 1; i < bytes; ++i)
        stream[i] = 0;
    stream.insert(stream.end(), {0x00, 0x00, 0xFF, 0xFF});
    return true;
}

} // namespace DeflateStitch
