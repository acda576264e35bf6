#pragma once

#include "components/zip/Bytes.h"

#include <QByteArray>
#include <QHash>

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
    QByteArray PlaceholderOf(Kind kind, const QByteArray& value, bool own = false);
    // The host and user names known so far, case folded, with their placeholders: what every text
    // that begins now looks for.
    struct Known
    {
        QHash<QByteArray, QByteArray> placeholders;
    };
    std::shared_ptr<const Known> KnownNames() const;
    // "placeholder = original", one a line, in the order the placeholders were given.
    QByteArray MapText() const;
    bool IsEmpty() const;

private:
    mutable std::mutex m_mutex;
    QHash<QByteArray, QByteArray> m_placeholders;           // by kind and case-folded value
    std::vector<std::pair<QByteArray, QByteArray>> m_given; // placeholder, original
    int m_counts[3] = {};
    std::shared_ptr<const Known> m_names = std::make_shared<Known>();
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

    void Feed(const unsigned char* data, size_t size, bool last, Bytes& out);
    int Replaced() const { return m_replaced; }

    // Learns the names a text defines (URL hosts and the values of keys naming a host) without
    // changing it: for the configuration files read before the package is written.
    static void Discover(const QByteArray& text, NameMap& map);

private:
    struct Match
    {
        size_t begin = 0;
        size_t end = 0;
        QByteArray placeholder;
        QByteArray host{}; // a host name the text defines here (case folded)
    };
    void process(size_t limit, size_t end, Bytes& out);
    void findAddresses(size_t from, size_t limit, size_t end, std::vector<Match>& matches) const;
    void findHosts(size_t from, size_t limit, size_t end, std::vector<Match>& matches) const;
    void findKnown(size_t from, size_t limit, size_t end, const std::vector<Match>& defined,
                   std::vector<Match>& matches);

    std::shared_ptr<NameMap> m_map;
    std::shared_ptr<const NameMap::Known> m_known; // when the text began
    QHash<QByteArray, QByteArray> m_defined;       // host names the text has defined so far
    Bytes m_buffer;
    size_t m_next = 0;
    bool m_last = false; // the call at hand ends the text
    int m_replaced = 0;
};
