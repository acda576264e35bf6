#include "delivery/EchoMask.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <utility>
#include <vector>

namespace {

// An encoded form shorter than this would hide ordinary words; the secret as it is always counts.
constexpr qsizetype kShortestEncoded = 4;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The base64 characters that the secret's bits alone decide when it lies shift bytes into a longer
// text: the characters at its two ends mix in its neighbours' bits and differ from text to text.
QByteArray base64Core(const QByteArray& secret, int shift, QByteArray::Base64Options options)
{
    const QByteArray encoded =
        (QByteArray(shift, '\0') + secret).toBase64(options | QByteArray::OmitTrailingEquals);
    const qsizetype first = (8 * shift + 5) / 6;                      // the first character wholly of it
    const qsizetype end = 8 * (qsizetype(shift) + secret.size()) / 6; // one past the last
    return end > first ? encoded.mid(first, end - first) : QByteArray();
}

// The value of the hexadecimal or decimal digits text[from, to), or none when they are not all digits.
std::optional<int> numberIn(const QByteArray& text, qsizetype from, qsizetype to, int base)
{
    if (from >= to || to - from > 6)
        return std::nullopt;
    bool ok = false;
    const int value = text.mid(from, to - from).toInt(&ok, base);
    const bool digits = std::all_of(text.begin() + from, text.begin() + to, [base](char c) {
        return base == 16 ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                          : std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
    if (!ok || !digits)
        return std::nullopt;
    return value;
}

// The ASCII character an escape at text[i] stands for, and the escape's length, as servers escape
// text in JSON ("\u002B", "\/"), in HTML ("&#x2F;", "&#43;", "&amp;") and in URLs ("%2F"):
// a secret in a server's answer is found however its writer escaped it. Anything else is itself,
// one byte long.
std::pair<char, qsizetype> escapedCharacter(const QByteArray& text, qsizetype i)
{
    const char c = text[i];
    const auto ascii = [](std::optional<int> code) { return code && *code > 0 && *code < 0x80; };
    if (c == '\\' && i + 1 < text.size()) {
        const char next = text[i + 1];
        if (next == '/' || next == '\\' || next == '"')
            return {next, 2};
        if (const std::optional<int> code =
                next == 'u' ? numberIn(text, i + 2, std::min(i + 6, text.size()), 16) : std::nullopt;
            ascii(code) && i + 6 <= text.size())
            return {char(*code), 6};
    } else if (c == '%' && i + 3 <= text.size()) {
        if (const std::optional<int> code = numberIn(text, i + 1, i + 3, 16); ascii(code))
            return {char(*code), 3};
    } else if (c == '&') {
        const qsizetype semicolon = text.indexOf(';', i);
        if (semicolon > i && semicolon - i <= 8) {
            const QByteArray name = text.mid(i + 1, semicolon - i - 1);
            static const std::vector<std::pair<QByteArray, char>> named{
                {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
            for (const auto& [word, character] : named)
                if (name == word)
                    return {character, semicolon - i + 1};
            const bool hex = name.startsWith("#x") || name.startsWith("#X");
            const std::optional<int> code = hex                    ? numberIn(text, i + 3, semicolon, 16)
                                            : name.startsWith('#') ? numberIn(text, i + 2, semicolon, 10)
                                                                   : std::nullopt;
            if (ascii(code))
                return {char(*code), semicolon - i + 1};
        }
    }
    return {c, 1};
}

} // namespace

EchoMask::EchoMask(const QList<QByteArray>& secrets)
{
    const auto add = [this](const QByteArray& form, bool spills) {
        const bool known = std::any_of(m_forms.cbegin(), m_forms.cend(),
                                       [&](const Form& f) { return f.text == form.toLower(); });
        if (!form.isEmpty() && !known)
            m_forms.append({form.toLower(), spills});
    };
    for (const QByteArray& secret : secrets) {
        if (secret.isEmpty())
            continue;
        add(secret, false);
        QList<QByteArray> encoded{secret.toHex()};
        for (const QByteArray& form : encoded)
            if (form.size() >= kShortestEncoded)
                add(form, false);
        for (int shift = 0; shift < 3; ++shift)
            for (const auto options : {QByteArray::Base64Encoding, QByteArray::Base64UrlEncoding})
                if (const QByteArray core = base64Core(secret, shift, options);
                    core.size() >= kShortestEncoded)
                    add(core, true);
    }
}

QByteArray EchoMask::masked(const QByteArray& text, bool cutShort) const
{
    if (m_forms.isEmpty())
        return text;
    // The forms are looked for in the text without its blanks; what is found is hidden in the text
    // itself from its first character to its last, blanks between included.
    // Case is ignored: a server may change it (an upper-cased header), and what is masked besides is
    // never shown anyway.
    // An escaped character (JSON, HTML, URL) is read as the character it stands for.
    QByteArray squeezed;
    std::vector<qsizetype> at;  // where each squeezed character starts in text
    std::vector<qsizetype> end; // and where it ends
    for (qsizetype i = 0; i < text.size(); ++i) {
        const auto [character, length] = escapedCharacter(text, i);
        if (isBlank(character)) {
            i += length - 1;
            continue;
        }
        squeezed += char(std::tolower(static_cast<unsigned char>(character)));
        at.push_back(i);
        i += length - 1;
        end.push_back(i);
    }
    std::vector<bool> hidden(size_t(text.size()), false);
    // A neighbour carries bits of the secret when it belongs to the same encoded text: next to it, or
    // across a line break (a wrapped line), never across a space.
    const auto sameWord = [&](qsizetype a, qsizetype b) { // squeezed indexes, a < b
        const QByteArray between = text.mid(end[size_t(a)] + 1, at[size_t(b)] - end[size_t(a)] - 1);
        return !between.contains(' ') && !between.contains('\t');
    };
    const auto hide = [&](qsizetype from, qsizetype to, bool spills) { // [from, to) of squeezed
        if (spills && from > 0 && sameWord(from - 1, from))
            --from;
        if (spills && to < squeezed.size() && sameWord(to - 1, to))
            ++to;
        if (from < to)
            std::fill(hidden.begin() + at[size_t(from)], hidden.begin() + end[size_t(to - 1)] + 1, true);
    };
    for (const Form& form : m_forms) {
        for (qsizetype pos = squeezed.indexOf(form.text); pos >= 0;
             pos = squeezed.indexOf(form.text, pos + 1))
            hide(pos, pos + form.text.size(), form.spills);
        if (!cutShort)
            continue;
        for (qsizetype k = std::min(form.text.size() - 1, squeezed.size()); k > 0; --k)
            if (squeezed.endsWith(form.text.left(k))) {
                hide(squeezed.size() - k, squeezed.size(), form.spills);
                break;
            }
    }
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!hidden[size_t(i)])
            out += text[i];
        else if (i == 0 || !hidden[size_t(i - 1)])
            out += kMasked;
    }
    return out;
}

bool EchoMask::holds(const QByteArray& text) const
{
    return masked(text) != text;
}
