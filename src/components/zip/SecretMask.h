#pragma once

#include "components/zip/Bytes.h"

#include <QString>

#include <cstddef>

// Masks the secrets in configuration and log text as it streams past, a chunk at a time, in
// memory that does not grow with the file or its lines. Each of these becomes ********:
//  - the value of a key named like a secret: key=value, key: value, "key": "value", key="value",
//    <key>value</key> (also with attributes, and <ns:key>), as in INI, properties, YAML, JSON and
//    XML files and in log lines; a connection string's Password=...; up to the string's ";";
//  - the value= attribute (or <value> element) that follows key="..." or name="..." naming a
//    secret, as .config files' appSettings and applicationSettings hold them;
//  - the token after "Bearer ";
//  - the body of a PEM private-key block, across lines, up to its -----END line.
// A key names a secret when its name, letters and digits only and case ignored, ends with
// password, passwd, pwd, passphrase, secret, token, apikey, secretkey, privatekey, accesskey,
// accountkey or authorization: DbPassword, client_secret, x-api-key, but not PasswordPolicy or
// TokenLifetime. An empty value, and one that is only true, false or null, stays as it is.
//
// A quoted value ends at its closing quote (a backslash escapes the next byte), an element's at
// the next "<"; any other value at the end of its line, and earlier at ";", "\"" or "<" (a
// connection string, an attribute, an element), or at ",", "}" or "]" after a quoted key (JSON).
// Nothing masked runs past a line end except a PEM block. The result does not depend on how the
// text is cut into chunks: Feed holds back the last bytes of a chunk until it sees what follows.
class SecretMask
{
public:
    // What a masked value becomes.
    static constexpr char kMask[] = "********";

    // Masks the next bytes of a file and appends what is settled to out; a few hundred bytes wait
    // for the next call, until the call with last set, which ends the file.
    void Feed(const unsigned char* data, size_t size, bool last, Bytes& out);
    // How many values have been masked so far.
    int Masked() const { return m_masked; }

    // Whether a file's name marks configuration or log text by its extension: .config, .conf,
    // .cfg, .cnf, .ini, .xml, .json, .yaml, .yml, .toml, .properties, .env, .log.
    static bool IsTextFileName(const QString& fileName);
    // Whether a file whose first bytes these are is binary: a NUL within the first 8 KiB.
    static bool LooksBinary(const unsigned char* data, size_t size);

private:
    enum class State
    {
        Scan,    // looking for the next secret
        Quoted,  // in a quoted value, up to m_quote
        Bare,    // in an unquoted value
        Element, // in an element's content, up to "<"
        Token,   // in a bearer token
        Until,   // in a private-key block or a CDATA section, up to m_until
    };
    struct Key
    {
        size_t begin = 0;
        size_t end = 0;
        bool quoted = false;
    };

    void process(size_t limit, size_t end, Bytes& out);
    bool passedOver(const unsigned char* p, size_t i, size_t end) const;
    size_t trigger(size_t i, size_t end, Bytes& out);
    size_t drop(size_t i, size_t limit, size_t end, Bytes& out);
    size_t afterSeparator(size_t i, size_t end, Bytes& out);
    size_t elementStart(size_t i, size_t end, Bytes& out);
    size_t privateKeyBlock(size_t i, size_t end, Bytes& out);
    size_t bearer(size_t i, size_t end, Bytes& out);
    bool keyBefore(size_t i, Key& key) const;
    bool plainLiteral(size_t from, size_t reach, unsigned char closing) const;
    void namesSecretValue(size_t from, size_t reach);
    void flush(size_t to, Bytes& out);
    void mask(Bytes& out);
    void enter(State state);

    Bytes m_buffer;       // bytes kept from earlier calls, then the new ones
    size_t m_next = 0;    // the first byte of m_buffer not looked at yet
    size_t m_emitted = 0; // the first byte of m_buffer not yet handed on or dropped
    State m_state = State::Scan;
    unsigned char m_quote = 0;
    bool m_started = false;           // the value being dropped has begun (its mask is out)
    bool m_afterQuotedKey = false;    // a bare value after a quoted key: JSON's ",", "}" and "]" end it
    bool m_secretValueNext = false;   // key="..." named a secret: the next value= or <value> is one
    bool m_secretElementNext = false; // <key ...> named a secret: its content is one
    const char* m_until = "";         // what ends the block being masked
    QByteArray m_lineBreak;           // of a PEM block's first line, repeated after its mask
    int m_masked = 0;
};
