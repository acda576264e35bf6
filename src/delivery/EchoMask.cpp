#include "delivery/EchoMask.h"

#include <algorithm>
#include <cctype>
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

QByteArray escaped(const QByteArray& text, const std::vector<std::pair<char, QByteArray>>& table)
{
    QByteArray out;
    for (const char c : text) {
        const auto found =
            std::find_if(table.cbegin(), table.cend(), [c](const auto& e) { return e.first == c; });
        out += found == table.cend() ? QByteArray(1, c) : found->second;
    }
    return out;
}

// The character a JSON escape at text[i] stands for, and the escape's length: "\u0041" (an ASCII
// character), "\/", "\\", "\"". Anything else is itself, one byte long.
std::pair<char, qsizetype> jsonEscape(const QByteArray& text, qsizetype i)
{
    if (text[i] != '\\' || i + 1 >= text.size())
        return {text[i], 1};
    const char next = text[i + 1];
    if (next == '/' || next == '\\' || next == '"')
        return {next, 2};
    if (next != 'u' || i + 6 > text.size())
        return {text[i], 1};
    uint code = 0;
    for (qsizetype k = i + 2; k < i + 6; ++k) {
        const auto digit = static_cast<unsigned char>(text[k]);
        if (!std::isxdigit(digit))
            return {text[i], 1};
        code = code * 16 + uint(std::isdigit(digit) ? digit - '0' : std::tolower(digit) - 'a' + 10);
    }
    if (code == 0 || code >= 0x80)
        return {text[i], 1};
    return {char(code), 6};
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
        QList<QByteArray> encoded{
            secret.toHex(),
            secret.toPercentEncoding(),
            escaped(secret, {{'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'"', "&quot;"}, {'\'', "&#39;"}}),
            escaped(secret,
                    {{'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'"', "&quot;"}, {'\'', "&#x27;"}}),
        };
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
    // A JSON escape of a character ("\u002B" for "+", as some writers escape it, or "\/") is read as
    // the character, so that a secret in a JSON answer is found however its writer escaped it.
    QByteArray squeezed;
    std::vector<qsizetype> at;  // where each squeezed character starts in text
    std::vector<qsizetype> end; // and where it ends
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isBlank(text[i]))
            continue;
        const auto [character, length] = jsonEscape(text, i);
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
