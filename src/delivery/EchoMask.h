#pragma once

#include <QByteArray>
#include <QList>

// What the program never shows of a server's words: the secrets a request carried (the bearer
// token, the password of the URL) in any form a server is likely to echo them in. Each is looked
// for as it is, in base64 and base64url at any of the three alignments it can take inside a longer
// text (an echoed "Authorization: Bearer ..." line encoded whole), in hex, percent-encoded, and
// escaped for JSON or HTML, in any case; blanks and line breaks inside a form (a wrapped base64
// line) do not hide it. What is found is replaced by kMasked.
class EchoMask
{
public:
    EchoMask() = default;
    explicit EchoMask(const QList<QByteArray>& secrets);

    // The text with every secret found replaced. cutShort says the text is the start of a longer
    // one: a secret's beginning at its very end is masked too.
    QByteArray masked(const QByteArray& text, bool cutShort = false) const;
    // Whether the text shows a secret in any of its forms.
    bool holds(const QByteArray& text) const;
    bool empty() const { return m_forms.isEmpty(); }

private:
    struct Form
    {
        QByteArray text;
        bool spills = false; // an encoding whose neighbouring characters carry bits of the secret
    };
    QList<Form> m_forms;
};

inline constexpr char kMasked[] = "********";
