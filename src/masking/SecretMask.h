#pragma once

#include "base/PackageFormat.h"
#include "masking/Bytes.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <vector>

// Masks the secrets in text as it streams past, a chunk at a time, in
// memory that does not grow with the file or its lines. Only a value is replaced, by ********;
// everything around it stays as it was. A value is masked when it belongs to a key named like a
// secret: its name, letters and digits only and case ignored, ends with password, passwd, pwd,
// passphrase, secret, token, apikey, secretkey, privatekey, accesskey, accountkey or
// authorization (DbPassword, client_secret, x-api-key; not PasswordPolicy or TokenLifetime). An
// empty value, and one that is only true, false or null, stays as it is.
//
// Where a value ends depends on where its key stands:
//  - first on its line (INI, .properties, .env, YAML; after indentation, "export " or "- "): the
//    value runs to the line's end;
//  - in a connection string (after ";", "=" or an opening quote): up to ";" or the end of the
//    quoted string around it; Password="a;b" and Password='a;b' to the closing quote (a doubled
//    quote is part of the value);
//  - in a URL's query (after "?" or "&"): up to "&", "#", a blank or a quote;
//  - anywhere else (log lines): one word, up to a blank, ",", ";", "&" or the line's end, two
//    after an authorization scheme (Basic ...);
//  - after a quoted key and ":" (JSON): a number or other bare word becomes the string
//    "********", an object or array has every string and number in it masked, its keys and
//    structure kept;
//  - a quoted value always to its closing quote (a backslash escapes the next byte), and after
//    key= anywhere but first on a line, ODBC's braced Pwd={a;b} to its "}" ("}}" is part of it).
// An unquoted value of a key not first on its line also ends where the quoted string or element
// content the key is in ends, and a NUL ends any value as a line end does.
//
// In XML a start tag is read whole, up to 64 KiB: an element named like a secret has its content
// masked (up to "<", a CDATA section to its end), an attribute named like one its value; key= or
// name= naming a secret makes the same tag's value= attribute a secret, in either order, or else
// the next <value> element. Other attribute values are read as text with their entities decoded
// (&quot; &apos; &amp; &lt; &gt; &#...;), and what is masked in them is their raw bytes. A
// malformed or longer tag is read as text. Also masked: the token after "Bearer ", a URL's
// password (scheme://user:password@), a PEM private-key block's body.
//
// The result does not depend on how the text is cut into calls: every decision looks at most a
// few hundred bytes back and ahead, or for a start tag up to its end, and feed holds back what it
// cannot decide yet until it sees what follows.
class SecretMask
{
public:
    // What a masked value becomes.
    static constexpr const char* kMask = PackageFormat::kMask;

    // Masks the next bytes of a file and appends what is settled to out; a few hundred bytes (up
    // to a start tag's length) wait for the next call, until the call with last set, which ends
    // the file.
    void feed(const unsigned char* data, size_t size, bool last, Bytes& out);
    // How many values have been masked so far.
    int masked() const { return m_masked; }

private:
    enum class State
    {
        Scan,    // looking for the next secret
        Quoted,  // in a quoted value, up to m_quote
        Bare,    // in an unquoted value, up to a byte of m_ends or m_closer
        Braced,  // in a braced connection-string value, up to "}"
        Nested,  // in a JSON object or array after a secret key
        Element, // in an element's content, up to "<"
        Token,   // in a bearer token
        Until,   // in a private-key block or a CDATA section, up to m_until
        Block,   // in a YAML block scalar's lines, each more indented than its key
    };
    // The text the rules read: the buffer, or an attribute's value with its entities decoded.
    struct Text
    {
        const unsigned char* p = nullptr;
        size_t end = 0;
        bool closed = false;           // nothing follows end
        bool startsLine = false;       // p[0] is the file's first byte
        bool attribute = false;        // an attribute's value, read as a quoted string
        size_t base = 0;               // where p[0]'s bytes are in the buffer
        const size_t* rawAt = nullptr; // each byte's offset from base, when decoded
    };
    struct Key
    {
        size_t begin = 0;
        size_t end = 0;
        bool quoted = false;
    };
    // Where a key stands, which decides where its unquoted value ends.
    struct Context
    {
        bool lineStart = false;
        unsigned char ends = 0;   // the kind of value: the bytes that end it
        unsigned char closer = 0; // what ends the quoted string or element the key is in
    };
    struct Attribute
    {
        size_t name = 0;
        size_t nameEnd = 0;
        size_t value = 0;
        size_t valueEnd = 0;
    };

    size_t process(size_t i, size_t limit, Bytes& out);
    bool passedOver(const unsigned char* p, size_t i) const;
    size_t trigger(size_t i, Bytes& out);
    size_t afterSeparator(size_t i, Bytes& out);
    size_t urlPassword(size_t i, size_t reach, Bytes& out);
    size_t value(size_t i, const Key& key, size_t v, size_t reach, Bytes& out);
    bool keyBefore(size_t i, size_t low, Key& key) const;
    Context contextOf(const Key& key, size_t low) const;
    bool firstOnLine(size_t k, size_t low) const;
    bool lineOpensWithTag(size_t k) const;
    unsigned char closerBefore(size_t k, size_t low) const;
    bool plainLiteral(size_t from, size_t reach, unsigned char closing) const;
    size_t jsonScalarEnd(size_t v, size_t reach) const;
    size_t afterScheme(size_t v, size_t reach) const;
    void namesSecretValue(size_t from, size_t reach);
    size_t startTag(size_t i, Bytes& out);
    size_t readTag(size_t i, size_t reach, size_t& local, size_t& nameEnd);
    bool namesSecret(const Attribute& a);
    void maskAttribute(const Attribute& a, bool whole, Bytes& out);
    void decode(const unsigned char* raw, size_t size);
    size_t privateKeyBlock(size_t i, Bytes& out);
    size_t bearer(size_t i, Bytes& out);
    size_t drop(size_t i, size_t limit, Bytes& out);
    size_t dropUntil(size_t i, size_t limit);
    size_t nested(size_t i, size_t limit, Bytes& out);
    size_t block(size_t i, size_t limit, Bytes& out);
    size_t blockStart(size_t i, const Key& key, size_t v, size_t reach, Bytes& out);
    size_t jsonKeyEnd(size_t j) const;
    void closeValue(Bytes& out);
    size_t raw(size_t k) const;
    void pass(size_t to, Bytes& out);
    void skip(size_t to);
    void put(const char* text, Bytes& out);
    void mask(Bytes& out);
    void enter(State state);

    Bytes m_buffer;       // bytes kept from earlier calls, then the new ones
    Text m_text;          // what the rules read now
    size_t m_offset = 0;  // bytes of the file dropped from the buffer's front
    size_t m_next = 0;    // the first byte of m_buffer not looked at yet
    size_t m_emitted = 0; // the first byte of m_buffer not yet handed on or dropped
    State m_state = State::Scan;
    unsigned char m_quote = 0;
    bool m_escapedQuote = false; // the value's quotes are written \" (in a quoted string)
    unsigned char m_ends = 0;    // the kind of bare value
    unsigned char m_closer = 0;
    int m_depth = 0;                     // JSON nesting
    int m_lines = 0;                     // line breaks in an element's value
    bool m_xmlLine = false;              // the element's start tag is on a line that opens with one
    size_t m_blockIndent = 0;            // the column of a block scalar's key
    size_t m_indent = 0;                 // of the block's line at hand, so far
    bool m_inValue = false;              // in a JSON string or bare value being masked
    bool m_wrap = false;                 // a bare JSON value: its mask goes in quotes
    bool m_started = false;              // the value being dropped has begun (its mask is out)
    bool m_secretValueNext = false;      // key="..." named a secret: the next value= or <value> is one
    const char* m_until = "";            // what ends the block being masked
    QByteArray m_lineBreak;              // of a PEM block's first line, repeated after its mask
    std::vector<Attribute> m_attributes; // of the start tag being read
    Bytes m_decoded;                     // an attribute's value with its entities decoded
    std::vector<size_t> m_rawAt;         // and where each of its bytes came from
    int m_masked = 0;
};
