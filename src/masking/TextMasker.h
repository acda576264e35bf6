#pragma once

#include "masking/Bytes.h"
#include "masking/NameMask.h"
#include "masking/SecretMask.h"

#include <QString>

#include <cstddef>
#include <memory>
#include <optional>

// How a file's text is encoded, as its first bytes tell.
enum class TextEncoding
{
    Binary,  // not text: packed as it is, never masked
    Bytes,   // UTF-8 or Latin-1 (or any encoding where ASCII is ASCII), NUL padding allowed
    Utf16LE, // with or without a byte-order mark
    Utf16BE,
};

// The encoding of a file whose first bytes these are (up to a few KiB are looked at): a byte-order
// mark decides; else UTF-16 is told by the NUL bytes in every other place of mostly ASCII text; else
// the file is text unless control characters other than tab, line and page breaks and NUL are more
// than one in a hundred of its other bytes (NUL runs are the padding a crash leaves in a log).
TextEncoding detectEncoding(const unsigned char* data, size_t size);
// "UTF-16 LE" and the like, for the report; empty for bytes and binary.
QString encodingName(TextEncoding encoding);

class TextMasker;

// What masking found in one file.
struct MaskOutcome
{
    bool checked = false; // read as text
    TextEncoding encoding = TextEncoding::Binary;
    int values = 0; // secrets masked
    int names = 0;  // names replaced
    static MaskOutcome of(const TextMasker& masker);
};

// Masks a file's secrets (SecretMask) and, on request, its names (NameMask), in the file's own
// encoding, as the file streams past a chunk at a time. The first call decides the encoding; a
// UTF-16 text is turned into UTF-8 for the maskers and back, byte for byte where nothing was
// masked (a lone surrogate survives, as does a last odd byte). A binary file comes out as it went
// in. The result does not depend on how the file is cut into calls.
class TextMasker
{
public:
    explicit TextMasker(std::shared_ptr<NameMap> names = nullptr);
    ~TextMasker();
    TextMasker(const TextMasker&) = delete;
    TextMasker& operator=(const TextMasker&) = delete;

    void feed(const unsigned char* data, size_t size, bool last, Bytes& out);

    // After the first call: whether the file was read as text, and how.
    bool checked() const { return m_encoding && *m_encoding != TextEncoding::Binary; }
    TextEncoding encoding() const { return m_encoding.value_or(TextEncoding::Binary); }
    int masked() const;
    int namesReplaced() const;

private:
    // A masker of text of the given kind inside another text, its first byte passed over when
    // shifted (UTF-16 that begins at an odd place).
    TextMasker(std::shared_ptr<NameMap> names, TextEncoding encoding, bool shifted);

    void route(const unsigned char* data, size_t size, bool last, Bytes& out);
    void maskOwn(const unsigned char* data, size_t size, bool last, Bytes& out);
    bool holdsOtherText(const unsigned char* data, size_t size) const;
    void startInner();
    void maskUtf8(const unsigned char* data, size_t size, bool last, Bytes& out);
    void decode(const unsigned char* data, size_t size, bool last, Bytes& utf8);
    void encode(const unsigned char* data, size_t size, bool last, Bytes& out);
    void putUnit(char16_t unit, Bytes& out) const;

    friend struct MaskOutcome;
    std::optional<TextEncoding> m_encoding;
    Bytes m_start; // the first bytes, until they are enough to decide the encoding
    SecretMask m_secrets;
    std::optional<NameMask> m_names;
    Bytes m_utf8;            // the text between the decoder and the maskers
    Bytes m_masked;          // what the secret mask gave, before the names
    Bytes m_renamed;         // what the name mask gave
    int m_oddByte = -1;      // a byte of a UTF-16 unit whose other byte is in the next call
    char16_t m_highUnit = 0; // a high surrogate whose low one may come next
    Bytes m_carry;           // the start of a UTF-8 sequence whose end is in the next call
    // Text of the other kind inside this one: UTF-16 lines that a second program appended to a
    // one-byte log, one-byte lines added to a UTF-16 file. Maskers of that kind read what this
    // one gives; they start at the first sign of such text (a NUL in a one-byte text; a UTF-16
    // text has one from the start), for UTF-16 at either byte alignment.
    std::shared_ptr<NameMap> m_nameMap;
    bool m_inside = false;        // this is such a masker: it has none of its own
    bool m_passFirstByte = false; // shifted by one byte
    std::unique_ptr<TextMasker> m_inner;
    std::unique_ptr<TextMasker> m_innerShifted;
    Bytes m_own;     // what this masker gave, before the inner ones
    Bytes m_between; // what the first inner masker gave
};
