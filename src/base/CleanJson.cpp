#include "base/CleanJson.h"

#include <QChar>

#include <algorithm>

namespace {

// Whether a character is written as \uXXXX in the JSON output: the control characters, the marks
// that steer the direction of text (U+200E/F, U+202A-U+202E, U+2066-U+2069, U+061C) and every
// other invisible formatting character or separator that could hide or reorder what a terminal or
// an editor shows of a string. The value is the same to whoever parses it.
bool escapedInJson(char32_t code)
{
    if (code < 0x20 || (code >= 0x7f && code <= 0x9f))
        return true;
    switch (QChar::category(code)) {
    case QChar::Other_Format:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
    case QChar::Other_Surrogate:
        return true;
    default:
        return false;
    }
}

// The length and the code point of the UTF-8 sequence at at; 0 when none starts there.
int utf8Sequence(const QByteArray& text, qsizetype at, char32_t* code)
{
    const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    const int length = lead >= 0xc2 && lead <= 0xdf   ? 2
                       : lead >= 0xe0 && lead <= 0xef ? 3
                       : lead >= 0xf0 && lead <= 0xf4 ? 4
                                                      : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    char32_t value = lead & (0xff >> (length + 1));
    for (int i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xc0) != 0x80)
            return 0;
        value = (value << 6) | (byte(at + i) & 0x3f);
    }
    *code = value;
    return length;
}

} // namespace

void appendUnitEscape(QByteArray& out, char16_t unit)
{
    out += "\\u";
    for (const int shift : {12, 8, 4, 0})
        out += "0123456789abcdef"[(unit >> shift) & 15];
}

// JSON text with every character escapedInJson written as \uXXXX (a pair of them past U+FFFF).
// Outside its strings JSON holds only ASCII punctuation, digits, letters and white space, and the
// writers escape the controls below U+0020 inside them: what is left to find is DEL and the
// characters past ASCII, and the text can be cleaned whole.
QByteArray cleanJson(const QByteArray& json)
{
    QByteArray out;
    out.reserve(json.size());
    const char* const text = json.constData();
    qsizetype plain = 0; // the start of the bytes not yet copied, none of them to escape
    for (qsizetype at = 0; at < json.size();) {
        const auto lead = static_cast<unsigned char>(text[at]);
        if (lead < 0x7f) {
            ++at;
            continue;
        }
        char32_t code = 0x7f;
        const int length = lead == 0x7f ? 1 : utf8Sequence(json, at, &code);
        if (length == 0 || !escapedInJson(code)) {
            at += std::max(length, 1);
            continue;
        }
        out.append(text + plain, at - plain);
        if (code > 0xffff) {
            appendUnitEscape(out, QChar::highSurrogate(code));
            appendUnitEscape(out, QChar::lowSurrogate(code));
        } else {
            appendUnitEscape(out, static_cast<char16_t>(code));
        }
        at += length;
        plain = at;
    }
    out.append(text + plain, json.size() - plain);
    return out;
}
