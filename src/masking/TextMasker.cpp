#include "masking/TextMasker.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

constexpr size_t kProbe = 8192; // how much of a file's beginning decides its encoding

void append(Bytes& out, const unsigned char* data, size_t size)
{
    const size_t at = out.size();
    out.resize(at + size);
    if (size > 0)
        std::memcpy(out.data() + at, data, size);
}

// Control characters that text does not hold: all but tab, line and page breaks, escape and NUL.
bool isStrayControl(unsigned char c)
{
    // Tab, line and page breaks, escape (colours), bell, backspace and the DOS end-of-file mark
    // are found in text.
    return (c < 0x20 && c != 0 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v' &&
            c != 0x1B && c != 0x07 && c != 0x08 && c != 0x1A) ||
           c == 0x7F;
}

// Puts a code point (or a lone surrogate, as WTF-8 writes it) as UTF-8.
void putUtf8(char32_t cp, Bytes& out)
{
    unsigned char bytes[4];
    size_t n = 0;
    if (cp < 0x80) {
        bytes[n++] = static_cast<unsigned char>(cp);
    } else if (cp < 0x800) {
        bytes[n++] = static_cast<unsigned char>(0xC0 | (cp >> 6));
        bytes[n++] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        bytes[n++] = static_cast<unsigned char>(0xE0 | (cp >> 12));
        bytes[n++] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        bytes[n++] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    } else {
        bytes[n++] = static_cast<unsigned char>(0xF0 | (cp >> 18));
        bytes[n++] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
        bytes[n++] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        bytes[n++] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    }
    out.insert(out.end(), bytes, bytes + n);
}

size_t utf8Length(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if ((lead >> 5) == 0x6)
        return 2;
    if ((lead >> 4) == 0xE)
        return 3;
    return (lead >> 3) == 0x1E ? 4 : 1;
}

} // namespace

namespace {

// Whether a file begins as a well-known binary format does: archives, pictures, databases and
// programs may hold long runs of text, and masking them would break them.
bool hasBinarySignature(const unsigned char* data, size_t n)
{
    static constexpr std::string_view kSignatures[] = {{"PK\x03\x04", 4},
                                                       {"PK\x05\x06", 4},
                                                       {"\x89PNG\r\n\x1a\n", 8},
                                                       {"GIF87a", 6},
                                                       {"GIF89a", 6},
                                                       {"\xff\xd8\xff", 3},
                                                       {"%PDF-", 5},
                                                       {"\x1f\x8b", 2},
                                                       {"7z\xbc\xaf\x27\x1c", 6},
                                                       {"SQLite format 3\0", 16},
                                                       {"\x7f"
                                                        "ELF",
                                                        4},
                                                       {"Rar!\x1a\x07", 6},
                                                       {"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1", 8},
                                                       {"MSCF", 4},
                                                       {"MDMP\x93\xa7", 6}};
    const std::string_view start(reinterpret_cast<const char*>(data), n);
    if (std::any_of(std::begin(kSignatures), std::end(kSignatures),
                    [&](std::string_view signature) { return start.starts_with(signature); }))
        return true;
    // A BMP: "BM", the file's size, then four reserved bytes of zero.
    return n >= 10 && data[0] == 'B' && data[1] == 'M' && data[6] == 0 && data[7] == 0 && data[8] == 0 &&
           data[9] == 0;
}

} // namespace

TextEncoding detectEncoding(const unsigned char* data, size_t size)
{
    const size_t n = std::min(size, kProbe);
    if (hasBinarySignature(data, n))
        return TextEncoding::Binary;
    if (n >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF)
        return TextEncoding::Bytes;
    if (n >= 2 && data[0] == 0xFF && data[1] == 0xFE)
        return n >= 4 && data[2] == 0 && data[3] == 0 ? TextEncoding::Binary
                                                      : TextEncoding::Utf16LE; // UTF-32
    if (n >= 2 && data[0] == 0xFE && data[1] == 0xFF)
        return TextEncoding::Utf16BE;
    size_t nulEven = 0;
    size_t nulOdd = 0;
    size_t stray = 0;
    for (size_t i = 0; i < n; ++i) {
        if (data[i] == 0)
            ++(i % 2 == 0 ? nulEven : nulOdd);
        else if (isStrayControl(data[i]))
            ++stray;
    }
    const size_t pairs = n / 2;
    const size_t others = n - nulEven - nulOdd;
    const bool fewStray = stray * 100 <= others;
    // UTF-16 of mostly ASCII text: a NUL in one place of most pairs, almost never in the other.
    // (A few in the other place are characters of other scripts, or a surrogate.)
    const auto few = [pairs](size_t count) { return count <= 2 || count * 20 <= pairs; };
    if (pairs >= 2 && fewStray && nulOdd * 10 >= pairs * 4 && few(nulEven))
        return TextEncoding::Utf16LE;
    if (pairs >= 2 && fewStray && nulEven * 10 >= pairs * 4 && few(nulOdd))
        return TextEncoding::Utf16BE;
    return fewStray ? TextEncoding::Bytes : TextEncoding::Binary;
}

QString encodingName(TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Utf16LE:
        return QStringLiteral("UTF-16 LE");
    case TextEncoding::Utf16BE:
        return QStringLiteral("UTF-16 BE");
    case TextEncoding::Binary:
    case TextEncoding::Bytes:
        break;
    }
    return {};
}

MaskOutcome MaskOutcome::of(const TextMasker& masker)
{
    return {masker.checked(), masker.encoding(), masker.masked(), masker.namesReplaced()};
}

TextMasker::TextMasker(std::shared_ptr<NameMap> names) : m_nameMap(std::move(names))
{
    if (m_nameMap)
        m_names.emplace(m_nameMap);
}

TextMasker::TextMasker(std::shared_ptr<NameMap> names, TextEncoding encoding, bool shifted)
    : TextMasker(std::move(names))
{
    m_encoding = encoding;
    m_inside = true;
    m_passFirstByte = shifted;
}

int TextMasker::masked() const
{
    return m_secrets.masked() + (m_inner ? m_inner->masked() : 0) +
           (m_innerShifted ? m_innerShifted->masked() : 0);
}

int TextMasker::namesReplaced() const
{
    return (m_names ? m_names->replaced() : 0) + (m_inner ? m_inner->namesReplaced() : 0) +
           (m_innerShifted ? m_innerShifted->namesReplaced() : 0);
}

TextMasker::~TextMasker() = default;

void TextMasker::feed(const unsigned char* data, size_t size, bool last, Bytes& out)
{
    if (m_passFirstByte && size > 0) {
        append(out, data, 1);
        ++data;
        --size;
        m_passFirstByte = false;
    }
    if (!m_encoding) { // the encoding is decided on the first few KiB, however the file is cut
        append(m_start, data, size);
        if (m_start.size() < kProbe && !last)
            return;
        m_encoding = detectEncoding(m_start.data(), m_start.size());
        const Bytes start = std::move(m_start);
        m_start = Bytes();
        route(start.data(), start.size(), last, out);
        return;
    }
    route(data, size, last, out);
}

void TextMasker::route(const unsigned char* data, size_t size, bool last, Bytes& out)
{
    if (*m_encoding == TextEncoding::Binary) {
        append(out, data, size);
        return;
    }
    if (!m_inner && !m_inside && holdsOtherText(data, size))
        startInner();
    if (!m_inner) {
        maskOwn(data, size, last, out);
        return;
    }
    m_own.clear();
    maskOwn(data, size, last, m_own);
    if (!m_innerShifted) {
        m_inner->feed(m_own.data(), m_own.size(), last, out);
        return;
    }
    m_between.clear();
    m_inner->feed(m_own.data(), m_own.size(), last, m_between);
    m_innerShifted->feed(m_between.data(), m_between.size(), last, out);
}

// An ASCII character in UTF-16 has a NUL byte: a one-byte text without one holds no UTF-16 key.
bool TextMasker::holdsOtherText(const unsigned char* data, size_t size) const
{
    return *m_encoding != TextEncoding::Bytes || std::memchr(data, 0, size) != nullptr;
}

void TextMasker::startInner()
{
    if (*m_encoding == TextEncoding::Bytes) {
        m_inner.reset(new TextMasker(m_nameMap, TextEncoding::Utf16LE, false));
        m_innerShifted.reset(new TextMasker(m_nameMap, TextEncoding::Utf16LE, true));
        return;
    }
    m_inner.reset(new TextMasker(m_nameMap, TextEncoding::Bytes, false));
    // UTF-16 after an odd number of one-byte characters stands a byte off.
    m_innerShifted.reset(new TextMasker(m_nameMap, *m_encoding, true));
}

void TextMasker::maskOwn(const unsigned char* data, size_t size, bool last, Bytes& out)
{
    switch (*m_encoding) {
    case TextEncoding::Binary:
        append(out, data, size);
        return;
    case TextEncoding::Bytes:
        maskUtf8(data, size, last, out);
        return;
    case TextEncoding::Utf16LE:
    case TextEncoding::Utf16BE:
        break;
    }
    m_utf8.clear();
    decode(data, size, last, m_utf8);
    m_renamed.clear();
    maskUtf8(m_utf8.data(), m_utf8.size(), last, m_renamed);
    encode(m_renamed.data(), m_renamed.size(), last, out);
    if (last && m_oddByte >= 0) { // a last byte that makes no unit goes out as it came
        const auto odd = static_cast<unsigned char>(m_oddByte);
        append(out, &odd, 1);
        m_oddByte = -1;
    }
}

void TextMasker::maskUtf8(const unsigned char* data, size_t size, bool last, Bytes& out)
{
    if (!m_names) {
        m_secrets.feed(data, size, last, out);
        return;
    }
    m_masked.clear();
    m_secrets.feed(data, size, last, m_masked);
    m_names->feed(m_masked.data(), m_masked.size(), last, out);
}

// UTF-16 to UTF-8, a unit split between calls and a surrogate pair split between them kept for the
// next call; a lone surrogate is written as WTF-8 does, so that it comes back as it was.
void TextMasker::decode(const unsigned char* data, size_t size, bool last, Bytes& utf8)
{
    const bool little = *m_encoding == TextEncoding::Utf16LE;
    const auto take = [&](char16_t unit) {
        if (m_highUnit != 0) {
            if (unit >= 0xDC00 && unit <= 0xDFFF) {
                putUtf8(0x10000 + ((char32_t(m_highUnit) - 0xD800) << 10) + (unit - 0xDC00), utf8);
                m_highUnit = 0;
                return;
            }
            putUtf8(m_highUnit, utf8);
            m_highUnit = 0;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF)
            m_highUnit = unit;
        else
            putUtf8(unit, utf8);
    };
    const auto unitOf = [little](unsigned char first, unsigned char second) {
        return static_cast<char16_t>(little ? (first | second << 8) : (first << 8 | second));
    };
    utf8.reserve(utf8.size() + (size / 2 + 1) * 3);
    size_t i = 0;
    if (m_oddByte >= 0 && size > 0) {
        take(unitOf(static_cast<unsigned char>(m_oddByte), data[0]));
        m_oddByte = -1;
        i = 1;
    }
    for (; i + 1 < size; i += 2)
        take(unitOf(data[i], data[i + 1]));
    if (i < size)
        m_oddByte = data[i];
    if (last && m_highUnit != 0) {
        putUtf8(m_highUnit, utf8);
        m_highUnit = 0;
    }
}

// UTF-8 (with WTF-8's lone surrogates) back to UTF-16, a sequence split between calls kept for
// the next.
void TextMasker::encode(const unsigned char* data, size_t size, bool last, Bytes& out)
{
    append(m_carry, data, size);
    const unsigned char* p = m_carry.data();
    const size_t n = m_carry.size();
    out.reserve(out.size() + (n + 1) * 2);
    size_t i = 0;
    while (i < n) {
        size_t length = utf8Length(p[i]);
        if (i + length > n) {
            if (!last)
                break;
            length = 1; // cut short at the very end: the byte as a unit of its own
        }
        char32_t cp = p[i];
        if (length == 2)
            cp = (char32_t(p[i] & 0x1F) << 6) | (p[i + 1] & 0x3F);
        else if (length == 3)
            cp = (char32_t(p[i] & 0x0F) << 12) | (char32_t(p[i + 1] & 0x3F) << 6) | (p[i + 2] & 0x3F);
        else if (length == 4)
            cp = (char32_t(p[i] & 0x07) << 18) | (char32_t(p[i + 1] & 0x3F) << 12) |
                 (char32_t(p[i + 2] & 0x3F) << 6) | (p[i + 3] & 0x3F);
        if (cp >= 0x10000) {
            putUnit(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)), out);
            putUnit(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)), out);
        } else {
            putUnit(static_cast<char16_t>(cp), out);
        }
        i += length;
    }
    m_carry.erase(m_carry.begin(), m_carry.begin() + static_cast<std::ptrdiff_t>(i));
}

void TextMasker::putUnit(char16_t unit, Bytes& out) const
{
    const unsigned char bytes[2] = {
        static_cast<unsigned char>(*m_encoding == TextEncoding::Utf16LE ? unit & 0xFF : unit >> 8),
        static_cast<unsigned char>(*m_encoding == TextEncoding::Utf16LE ? unit >> 8 : unit & 0xFF)};
    out.insert(out.end(), bytes, bytes + 2);
}
