#pragma once

#include "masking/Bytes.h"

#include <QByteArray>
#include <QHash>

#include <array>
#include <bitset>

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

// The names of one package and the placeholders that stand for them: host-1, user-1, ip-1... Each
// value gets its number the first time it is met and keeps it in every file of the package. Host
// and user names are matched case-blind. Shared by the files masked at once, on any thread.
class NameMap
{
public:
    enum class Kind
    {
        Host,
        User,
        Address,
    };

    // The placeholder of a value, a new one when the value is new; empty for a value found in a
    // text that names nothing worth hiding ("localhost", a name of fewer than three characters).
    // A name given as this computer's or this user's own is always replaced.
    QByteArray placeholderOf(Kind kind, const QByteArray& value, bool own = false);
    // The host and user names known so far, case folded, with their placeholders: what every text
    // that begins now looks for.
    struct Known
    {
        QHash<QByteArray, QByteArray> placeholders;
        std::bitset<65536> beginnings;  // the first two bytes (or the only one) of each name
        std::array<bool, 256> firsts{}; // the first byte of each, in either case
    };
    static void noteFirst(const QByteArray& folded, std::array<bool, 256>& firsts);
    // A name's first two bytes, or its only one, as a number for a set of beginnings.
    static size_t beginningOf(const QByteArray& folded);
    std::shared_ptr<const Known> knownNames();
    // "placeholder = original", one a line, in the order the placeholders were given.
    QByteArray mapText() const;
    bool isEmpty() const;

private:
    mutable std::mutex m_mutex;
    std::array<QHash<QByteArray, QByteArray>, 3> m_placeholders; // by kind, then case-folded value
    std::vector<std::pair<QByteArray, QByteArray>> m_given;      // placeholder, original
    std::shared_ptr<const Known> m_names;                        // built again when a name was added since
    bool m_namesStale = true;
};

// Replaces the names of a text as it streams past, a chunk at a time: IPv4 and IPv6 addresses,
// the host names of URLs (scheme://host), the values of keys that name a host (host=, server=,
// Data Source=, address=...), and every host or user name already known, wherever it stands as a
// word of its own. Other dotted words (file names, version numbers) stay. The text is UTF-8 or any
// encoding where ASCII is ASCII. The names known when the text begins, and those the text itself
// defines before a place, are replaced there; as with SecretMask, how the text is cut changes
// nothing in what comes out.
class NameMask
{
public:
    explicit NameMask(std::shared_ptr<NameMap> map);

    void feed(const unsigned char* data, size_t size, bool last, Bytes& out);
    int replaced() const { return m_replaced; }

    // Learns the names a text defines (URL hosts and the values of keys naming a host) without
    // changing it: for the configuration files read before the package is written.
    static void discover(const QByteArray& text, NameMap& map);

private:
    struct Match
    {
        size_t begin = 0;
        size_t end = 0;
        QByteArray placeholder;
    };
    void process(size_t limit, size_t end, Bytes& out);
    void scan(size_t from, size_t limit, size_t end, std::vector<Match>& matches);
    size_t atDot(size_t dot, size_t from, size_t limit, size_t end, std::vector<Match>& matches);
    size_t atColon(size_t colon, size_t from, size_t limit, size_t end, std::vector<Match>& matches);
    void valueOfKey(size_t separator, size_t keyEnd, size_t from, size_t limit, size_t end,
                    std::vector<Match>& matches);
    void hostAt(size_t at, size_t from, size_t limit, size_t end, std::vector<Match>& matches);
    void elementOfHost(size_t close, size_t from, size_t limit, size_t end, std::vector<Match>& matches);
    bool tagKeyNamesAHost(size_t at, size_t end) const;
    bool firstOnLine(size_t keyEnd) const;
    bool looksLikeAHost(size_t at, size_t end) const;
    size_t uncHost(size_t at, size_t from, size_t limit, size_t end, std::vector<Match>& matches);
    QByteArray knownPlaceholder(const QByteArray& folded) const;
    size_t atWord(size_t start, size_t end, std::vector<Match>& matches);
    // firstTime, when given, tells whether the value is met for the first time in the text.
    QByteArray placeholderOf(NameMap::Kind kind, const unsigned char* value, size_t size,
                             bool* firstTime = nullptr);
    bool mayBeginAName(const unsigned char* p, size_t i, size_t end) const;

    std::shared_ptr<NameMap> m_map;
    std::shared_ptr<const NameMap::Known> m_known;       // when the text began
    std::array<QHash<QByteArray, QByteArray>, 3> m_seen; // placeholders given in this text, by kind
    QHash<QByteArray, QByteArray> m_defined;             // host names the text has defined so far
    std::bitset<65536> m_definedBeginnings;
    // The bytes where the scan stops: ".", ":", "=" and the first byte of every name looked for.
    std::array<bool, 256> m_interesting{};
    QByteArray m_word; // the word being looked up
    Bytes m_buffer;
    size_t m_next = 0;
    size_t m_colonRunEnd = 0; // the end of the run of hex digits and colons looked at last
    bool m_last = false;      // the call at hand ends the text
    int m_replaced = 0;
};
