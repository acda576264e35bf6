#include "masking/NameMask.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string.h>
#include <string_view>

namespace {

constexpr size_t kReach = 256; // the longest name or address looked at, and the look behind

// Word characters: a name or an address must not run on into one.
constexpr std::array<bool, 256> wordChars()
{
    std::array<bool, 256> w{};
    for (int c = 0; c < 256; ++c)
        w[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
               c >= 0x80;
    return w;
}
constexpr std::array<bool, 256> kWord = wordChars();

bool isDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

bool isLetter(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

constexpr std::array<bool, 256> hostChars()
{
    std::array<bool, 256> h = wordChars();
    h['-'] = h['.'] = true;
    return h;
}
constexpr std::array<bool, 256> kHost = hostChars();

// What an IP address is made of.
enum : unsigned char
{
    HexDigit = 1,
    Colon = 2,
    Dot = 4,
};

constexpr std::array<unsigned char, 256> addressChars()
{
    std::array<unsigned char, 256> a{};
    for (const char* c = "0123456789abcdefABCDEF"; *c != 0; ++c)
        a[static_cast<unsigned char>(*c)] = HexDigit;
    a[':'] = Colon;
    a['.'] = Dot;
    return a;
}
constexpr std::array<unsigned char, 256> kAddressChars = addressChars();

bool isHostChar(unsigned char c)
{
    return kHost[c];
}

unsigned char lower(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c | 0x20) : c;
}

QByteArray folded(const QByteArray& value)
{
    QByteArray out = value;
    for (char& c : out)
        c = static_cast<char>(lower(static_cast<unsigned char>(c)));
    return out;
}

void append(Bytes& out, const unsigned char* data, size_t size)
{
    const size_t at = out.size();
    out.resize(at + size);
    if (size > 0)
        std::memcpy(out.data() + at, data, size);
}

// Whether a match from begin to end stands as a word of its own: no word character, and no dot or
// hyphen leading on to one, on either side.
bool standsAlone(const unsigned char* p, size_t begin, size_t end, size_t size)
{
    if (begin > 0) {
        const unsigned char before = p[begin - 1];
        if (kWord[before] || ((before == '.' || before == '-') && begin > 1 && kWord[p[begin - 2]]))
            return false;
    }
    if (end < size) {
        const unsigned char after = p[end];
        if (kWord[after] || ((after == '.' || after == '-') && end + 1 < size && kWord[p[end + 1]]))
            return false;
    }
    return true;
}

// Whether the bytes at p spell a word (lower case), case-blind; the caller knows they are there.
bool spelled(const unsigned char* p, std::string_view word)
{
    for (size_t k = 0; k < word.size(); ++k)
        if (lower(p[k]) != static_cast<unsigned char>(word[k]))
            return false;
    return true;
}

// The length of an IPv4 address at p (up to size), or 0.
size_t ipv4At(const unsigned char* p, size_t size)
{
    size_t i = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (i >= size || p[i] != '.')
                return 0;
            ++i;
        }
        size_t digits = 0;
        int value = 0;
        while (i < size && isDigit(p[i]) && digits < 4) {
            value = value * 10 + (p[i++] - '0');
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255)
            return 0;
    }
    return i;
}

// Whether a run of hex digits, colons and dots is an IPv6 address: groups of one to four hex digits,
// eight of them or fewer around one "::", the last two maybe an IPv4 address.
bool isIpv6(const unsigned char* p, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(p), size);
    const size_t gap = text.find("::");
    if (gap != std::string_view::npos && text.find("::", gap + 1) != std::string_view::npos)
        return false;
    int groups = 0;
    bool digit = false;
    size_t start = 0;
    while (start <= size) {
        size_t stop = text.find(':', start);
        if (stop == std::string_view::npos)
            stop = size;
        const std::string_view group = text.substr(start, stop - start);
        if (group.find('.') != std::string_view::npos) { // an IPv4 tail
            if (stop != size || ipv4At(p + start, group.size()) != group.size())
                return false;
            groups += 2;
            digit = true;
        } else if (!group.empty()) {
            if (group.size() > 4)
                return false;
            ++groups;
            digit = digit || std::any_of(group.begin(), group.end(), [](char c) { return isDigit(c); });
        }
        start = stop + 1;
    }
    if (gap == std::string_view::npos)
        return groups == 8 && digit;
    return groups <= 7 && (digit || groups >= 2) && size >= 3;
}

// The last three letters of the key names below ("host", "server", "addr", "hostname", "source",
// "address", "fqdn"), each letter by its low five bits, as a set of 32,768: most keys fail at a
// look in it.
constexpr std::array<uint64_t, 512> hostKeyEnds()
{
    std::array<uint64_t, 512> set{};
    for (const char* end : {"ost", "ver", "ddr", "ame", "rce", "ess", "qdn", "lue"}) { // "value" too
        const unsigned index = (end[0] & 31u) << 10 | (end[1] & 31u) << 5 | (end[2] & 31u);
        set[index >> 6] |= uint64_t{1} << (index & 63);
    }
    return set;
}
constexpr std::array<uint64_t, 512> kHostKeyEnds = hostKeyEnds();

// Whether a key ending at p (three bytes or more before it) may name a host, case-blind.
inline bool mayEndAHostKey(const unsigned char* p)
{
    const unsigned index = (p[-3] & 31u) << 10 | (p[-2] & 31u) << 5 | (p[-1] & 31u);
    return (kHostKeyEnds[index >> 6] >> (index & 63)) & 1;
}

// Whether a key names a host, by its letters and digits, case folded: "Data Source", "db_host",
// "Server", "serverAddress" (an e-mail address is no host). Looked at from the end, without
// copying: most keys fail at their last letter.
bool namesAHost(const unsigned char* key, size_t length)
{
    // The last two letters decide most keys at once: those of the names below.
    size_t last = length;
    while (last > 0 && !kWord[key[last - 1]])
        --last;
    if (last < 3 || !mayEndAHostKey(key + last))
        return false;
    char tail[16]; // the last letters and digits, backwards
    size_t n = 0;
    for (size_t k = length; k > 0 && n < sizeof tail; --k)
        if (isDigit(key[k - 1]) || (lower(key[k - 1]) >= 'a' && lower(key[k - 1]) <= 'z'))
            tail[n++] = static_cast<char>(lower(key[k - 1]));
    if (n == 0 || !std::strchr("tresnd", tail[0]))
        return false;
    const auto endsWith = [&](std::string_view end) {
        if (end.size() > n)
            return false;
        for (size_t j = 0; j < end.size(); ++j)
            if (tail[j] != end[end.size() - 1 - j])
                return false;
        return true;
    };
    if (endsWith("emailaddress"))
        return false;
    for (const std::string_view end :
         {"host", "hostname", "server", "servername", "datasource", "address", "addr", "fqdn"})
        if (endsWith(end))
            return true;
    return false;
}

// Whether what follows a word's first dot is a domain: two labels or more, or one that names a
// network (corp, local, com...) rather than a file's kind.
bool looksLikeADomain(const QByteArray& folded, qsizetype dot)
{
    const QByteArray rest = folded.mid(dot + 1);
    if (rest.contains('.'))
        return true;
    static const QByteArrayList kNetworks = {"corp", "local", "lan", "internal", "intra", "home",
                                             "com",  "net",   "org", "domain",   "ad"};
    return kNetworks.contains(rest);
}

// A prefix and a number: "ip-" and 12 make "ip-12".
QByteArray numbered(const char* prefix, qsizetype number)
{
    char digits[24];
    char* at = std::end(digits);
    do {
        *--at = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number > 0);
    QByteArray text(prefix);
    text.append(at, std::end(digits) - at);
    return text;
}

} // namespace

void NameMap::noteFirst(const QByteArray& folded, std::array<bool, 256>& firsts)
{
    const auto first = static_cast<unsigned char>(folded.at(0));
    firsts[first] = true;
    if (first >= 'a' && first <= 'z')
        firsts[first - 'a' + 'A'] = true;
}

size_t NameMap::beginningOf(const QByteArray& folded)
{
    const auto first = static_cast<unsigned char>(folded.at(0));
    return folded.size() == 1 ? first : size_t(first) << 8 | static_cast<unsigned char>(folded.at(1));
}

QByteArray NameMap::placeholderOf(Kind kind, const QByteArray& value, bool own)
{
    const QByteArray key = kind == Kind::Address ? value : folded(value);
    if (key.isEmpty() || key == "localhost" || (!own && key.size() < 3))
        return {};
    const auto index = static_cast<size_t>(kind);
    const std::lock_guard lock(m_mutex);
    QHash<QByteArray, QByteArray>& placeholders = m_placeholders[index];
    if (const auto found = placeholders.constFind(key); found != placeholders.cend())
        return *found;
    static constexpr const char* kPrefixes[] = {"host-", "user-", "ip-"};
    const QByteArray placeholder = numbered(kPrefixes[index], placeholders.size() + 1);
    placeholders.insert(key, placeholder);
    m_given.emplace_back(placeholder, value);
    m_namesStale = m_namesStale || kind != Kind::Address;
    return placeholder;
}

std::shared_ptr<const NameMap::Known> NameMap::knownNames()
{
    const std::lock_guard lock(m_mutex);
    if (m_namesStale) {
        auto names = std::make_shared<Known>();
        for (const Kind kind : {Kind::Host, Kind::User}) {
            const QHash<QByteArray, QByteArray>& placeholders = m_placeholders[static_cast<size_t>(kind)];
            for (auto it = placeholders.cbegin(); it != placeholders.cend(); ++it) {
                if (names->placeholders.contains(it.key()))
                    continue; // a host and a user of one name: the host's placeholder stands
                names->placeholders.insert(it.key(), it.value());
                names->beginnings.set(beginningOf(it.key()));
                noteFirst(it.key(), names->firsts);
            }
        }
        m_names = std::move(names);
        m_namesStale = false;
    }
    return m_names;
}

QByteArray NameMap::mapText() const
{
    const std::lock_guard lock(m_mutex);
    QByteArray text;
    qsizetype size = 0;
    for (const auto& [placeholder, original] : m_given)
        size += placeholder.size() + original.size() + 4;
    text.reserve(size);
    for (const auto& [placeholder, original] : m_given)
        text.append(placeholder).append(" = ").append(original).append('\n');
    return text;
}

bool NameMap::isEmpty() const
{
    const std::lock_guard lock(m_mutex);
    return m_given.empty();
}

NameMask::NameMask(std::shared_ptr<NameMap> map)
    : m_map(std::move(map)), m_known(m_map->knownNames()), m_interesting(m_known->firsts)
{
    for (const unsigned char c : {'.', ':', '=', '>', '\\'})
        m_interesting[c] = true;
}

// The map's placeholder of a value, asked of the map once a text; a value met before in the text
// is looked up where it stands, without a copy.
QByteArray NameMask::placeholderOf(NameMap::Kind kind, const unsigned char* value, size_t size,
                                   bool* firstTime)
{
    if (kind == NameMap::Kind::Address) // told apart by their bytes alone: the map is asked at once
        return m_map->placeholderOf(
            kind, QByteArray(reinterpret_cast<const char*>(value), static_cast<qsizetype>(size)));
    QHash<QByteArray, QByteArray>& seen = m_seen[static_cast<size_t>(kind)];
    const QByteArray here =
        QByteArray::fromRawData(reinterpret_cast<const char*>(value), static_cast<qsizetype>(size));
    if (const auto found = seen.constFind(here); found != seen.cend())
        return *found;
    if (firstTime != nullptr)
        *firstTime = true;
    const QByteArray copy(here.constData(), here.size());
    const QByteArray placeholder = m_map->placeholderOf(kind, copy);
    seen.insert(copy, placeholder);
    return placeholder;
}

void NameMask::discover(const QByteArray& text, NameMap& map)
{
    NameMask reader(std::shared_ptr<NameMap>(&map, [](NameMap*) {}));
    Bytes ignored;
    reader.feed(reinterpret_cast<const unsigned char*>(text.constData()), static_cast<size_t>(text.size()),
                true, ignored);
}

void NameMask::feed(const unsigned char* data, size_t size, bool last, Bytes& out)
{
    append(m_buffer, data, size);
    const size_t end = m_buffer.size();
    const size_t limit = last ? end : (end > kReach ? end - kReach : 0);
    m_last = last;
    if (limit > m_next)
        process(limit, end, out);
    if (last) {
        append(out, m_buffer.data() + m_next, end - m_next);
        m_buffer = Bytes();
        m_next = 0;
        m_colonRunEnd = 0;
        return;
    }
    const size_t keep = m_next > kReach ? m_next - kReach : 0; // what a later match looks back on
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(keep));
    m_next -= keep;
    m_colonRunEnd = m_colonRunEnd > keep ? m_colonRunEnd - keep : 0;
}

void NameMask::process(size_t limit, size_t end, Bytes& out)
{
    std::vector<Match> matches;
    scan(m_next, limit, end, matches);
    std::sort(matches.begin(), matches.end(), [](const Match& a, const Match& b) {
        return a.begin != b.begin ? a.begin < b.begin : a.end > b.end;
    });
    out.reserve(out.size() + (limit - m_next) + 64);
    size_t at = m_next;
    for (const Match& match : matches) {
        if (match.begin < at || match.placeholder.isEmpty())
            continue;
        append(out, m_buffer.data() + at, match.begin - at);
        append(out, reinterpret_cast<const unsigned char*>(match.placeholder.constData()),
               static_cast<size_t>(match.placeholder.size()));
        at = match.end;
        ++m_replaced;
    }
    if (at < limit) {
        append(out, m_buffer.data() + at, limit - at);
        at = limit;
    }
    m_next = at;
}

// One pass over the text, stopping only where something may begin: a dot (an IPv4 address), a
// colon (an IPv6 address, a URL's "://", a JSON key's end), "=" (a key's value), or the first
// letter of a name looked for. What the text defines is known from there on.
void NameMask::scan(size_t from, size_t limit, size_t end, std::vector<Match>& matches)
{
    const unsigned char* p = m_buffer.data();
    // A URL's host may begin in this call though its "://" came just before.
    for (size_t i = from > 3 ? from - 3 : 0; i < from; ++i)
        if (p[i] == ':')
            atColon(i, from, limit, end, matches);
    const size_t dotsEnd = std::min(end, limit + 3); // an address begun before limit has a dot by then
    for (size_t i = skipTo(p, from, dotsEnd, m_interesting.data()); i < dotsEnd;
         i = skipTo(p, i + 1, dotsEnd, m_interesting.data())) {
        switch (p[i]) {
        case '=':
            // Most keys are passed over by their last three letters.
            if (i < limit && i >= 3 && (p[i - 1] == ' ' || mayEndAHostKey(p + i)))
                valueOfKey(i, i, from, limit, end, matches);
            break;
        case '.':
            // Most dots have no digit on both sides: a file name's, a host name's, a sentence's.
            if (i > 0 && isDigit(p[i - 1]) && i + 1 < end && isDigit(p[i + 1]))
                i = atDot(i, from, limit, end, matches);
            break;
        case ':':
            if (i < limit)
                i = atColon(i, from, limit, end, matches);
            break;
        case '>':
            if (i < limit)
                elementOfHost(i, from, limit, end, matches);
            break;
        case '\\':
            if (i < limit)
                i = uncHost(i, from, limit, end, matches);
            break;
        default: // the first letter of a name
            if (i < limit && (i == 0 || !isHostChar(p[i - 1])) && mayBeginAName(p, i, end))
                i = atWord(i, end, matches);
        }
    }
}

// At a dot: an IPv4 address around it, its first part at most three digits before. Returns where
// the scan goes on.
size_t NameMask::atDot(size_t dot, size_t from, size_t limit, size_t end, std::vector<Match>& matches)
{
    const unsigned char* p = m_buffer.data();
    if (dot == 0 || !isDigit(p[dot - 1]) || dot + 1 >= end || !isDigit(p[dot + 1]))
        return dot;
    size_t start = dot;
    while (start > 0 && dot - start < 3 && isDigit(p[start - 1]))
        --start;
    if (start < from || start >= limit)
        return dot;
    size_t next = dot + 1; // an address's second part ends at a dot
    while (next < end && next - dot <= 3 && isDigit(p[next]))
        ++next;
    if (next >= end || p[next] != '.')
        return dot;
    const size_t length = ipv4At(p + start, std::min(end - start, size_t{15}));
    if (length == 0 || !standsAlone(p, start, start + length, end))
        return dot;
    matches.push_back({start, start + length, placeholderOf(NameMap::Kind::Address, p + start, length)});
    return start + length - 1;
}

// At a colon: a URL's host (past its user and password), a JSON key's value, or an IPv6 address
// in the run of hex digits and colons around it. Returns where the scan goes on.
size_t NameMask::atColon(size_t colon, size_t from, size_t limit, size_t end, std::vector<Match>& matches)
{
    const unsigned char* p = m_buffer.data();
    if (colon + 2 < end && p[colon + 1] == '/' && p[colon + 2] == '/') {
        const size_t host = colon + 3;
        size_t at = host;
        for (size_t k = host; k < end && k - host < kReach && !std::strchr("/?#\"' \t\r\n<>", p[k]); ++k)
            if (p[k] == '@')
                at = k + 1;
        hostAt(at, from, limit, end, matches);
        return colon + 2;
    }
    if (colon < from)
        return colon;
    if (colon > 0 && p[colon - 1] == '"') {
        valueOfKey(colon, colon - 1, from, limit, end, matches);
        return colon;
    }
    if (colon + 1 < end && p[colon + 1] == ' ' && colon >= 3 && mayEndAHostKey(p + colon) &&
        firstOnLine(colon) && looksLikeAHost(colon + 1, end)) { // YAML's "host: db01"
        valueOfKey(colon, colon, from, limit, end, matches);
        return colon;
    }
    if (colon < m_colonRunEnd)
        return colon; // in a run already looked at whole: a time of day, a hardware address
    size_t start = colon;
    while (start > 0 && colon - start < 45 && (kAddressChars[p[start - 1]] & (HexDigit | Colon)) != 0)
        --start;
    size_t stop = colon;
    int colons = 0;
    bool gap = false; // "::"
    for (; stop < end && stop - start < 45; ++stop) {
        const unsigned char kind = kAddressChars[p[stop]];
        if (kind == 0)
            break;
        if (kind == Colon) {
            ++colons;
            gap = gap || (stop > start && p[stop - 1] == ':');
        }
    }
    m_colonRunEnd = stop;
    while (stop > start && p[stop - 1] == '.') // a sentence's full stop
        --stop;
    // Most runs (times of day, hardware addresses) fail at a glance: seven colons, or a "::".
    const bool may = gap || colons >= 7 || (p[start] == ':' && start + 1 < end && p[start + 1] == ':');
    if (may && start >= from && isIpv6(p + start, stop - start) && standsAlone(p, start, stop, end)) {
        matches.push_back({start, stop, placeholderOf(NameMap::Kind::Address, p + start, stop - start)});
        return stop - 1;
    }
    return colon;
}

// At "=" or a JSON key's colon: the value of a key that names a host (host=db01, Data
// Source=tcp:db01,1433, "server": "db01").
void NameMask::valueOfKey(size_t separator, size_t keyEnd, size_t from, size_t limit, size_t end,
                          std::vector<Match>& matches)
{
    const unsigned char* p = m_buffer.data();
    while (keyEnd > 0 && p[keyEnd - 1] == ' ')
        --keyEnd;
    if (keyEnd < 3 || !mayEndAHostKey(p + keyEnd))
        return;
    if (keyEnd >= 5 && spelled(p + keyEnd - 5, "value") && (keyEnd == 5 || !isHostChar(p[keyEnd - 6]))) {
        // <add key="SmtpHost" value="..."/>
        size_t quote = separator + 1;
        while (quote < end && quote - separator < 8 && p[quote] == ' ')
            ++quote;
        if (quote < end && (p[quote] == '"' || p[quote] == '\'') && tagKeyNamesAHost(separator, end))
            hostAt(quote + 1, from, limit, end, matches);
        return;
    }
    size_t k = keyEnd; // the key: letters, digits, "_", "-", "." and blanks ("Data Source")
    while (k > 0 && keyEnd - k < 32 && (isHostChar(p[k - 1]) || p[k - 1] == ' '))
        --k;
    if (!namesAHost(p + k, keyEnd - k))
        return;
    size_t v = separator + 1;
    while (v < end && (p[v] == ' ' || p[v] == '"' || p[v] == '\''))
        ++v;
    if (v + 4 < end && std::memcmp(p + v, "tcp:", 4) == 0)
        v += 4;
    hostAt(v, from, limit, end, matches);
}

// Whether the key ending at a place is the first thing on its line, after indentation and a
// YAML list's "- ".
bool NameMask::firstOnLine(size_t keyEnd) const
{
    const unsigned char* p = m_buffer.data();
    size_t k = keyEnd;
    while (k > 0 && keyEnd - k < 64 && isHostChar(p[k - 1]))
        --k;
    while (k > 0 && keyEnd - k < kReach && (p[k - 1] == ' ' || p[k - 1] == '\t' || p[k - 1] == '-'))
        --k;
    return k == 0 || p[k - 1] == '\n' || p[k - 1] == '\r';
}

// Whether the word after a place (past blanks and a quote) holds a digit or a dot, as host names
// mostly do: a YAML key that names a host is told from a header line ("Server: Apache/2.4").
bool NameMask::looksLikeAHost(size_t at, size_t end) const
{
    const unsigned char* p = m_buffer.data();
    while (at < end && (p[at] == ' ' || p[at] == '"' || p[at] == '\''))
        ++at;
    size_t stop = at;
    while (stop < end && stop - at < kReach && isHostChar(p[stop]))
        ++stop;
    while (stop > at && p[stop - 1] == '.')
        --stop;
    return std::any_of(p + at, p + stop, [](unsigned char c) { return isDigit(c) || c == '.'; });
}

// Whether the start tag around a place has a key attribute whose value names a host, before or
// after the place: <add key="DbServer" value="db01"/>, in either order.
bool NameMask::tagKeyNamesAHost(size_t at, size_t end) const
{
    const unsigned char* p = m_buffer.data();
    size_t open = at;
    while (open > 0 && at - open < kReach && p[open - 1] != '<' && p[open - 1] != '>')
        --open;
    if (open == 0 || p[open - 1] != '<')
        return false;
    size_t close = at;
    while (close < end && close - at < kReach && p[close] != '>' && p[close] != '<')
        ++close;
    for (size_t k = open; k + 5 < close; ++k) {
        if (!spelled(p + k, "key") || (k > 0 && isHostChar(p[k - 1])))
            continue;
        size_t q = k + 3; // key = "..."
        while (q < close && p[q] == ' ')
            ++q;
        if (q >= close || p[q] != '=')
            continue;
        ++q;
        while (q < close && p[q] == ' ')
            ++q;
        const unsigned char quote = q < close ? p[q] : 0;
        if (quote != '"' && quote != '\'')
            return false;
        const size_t value = q + 1;
        size_t stop = value;
        while (stop < close && p[stop] != quote)
            ++stop;
        return stop < close && namesAHost(p + value, stop - value);
    }
    return false;
}

// At the ">" of a start tag that names a host (<Server>, <DbHost>): the element's text.
void NameMask::elementOfHost(size_t close, size_t from, size_t limit, size_t end, std::vector<Match>& matches)
{
    const unsigned char* p = m_buffer.data();
    if (close < 3 || !mayEndAHostKey(p + close))
        return;
    size_t k = close;
    while (k > 0 && close - k < 32 && isHostChar(p[k - 1]))
        --k;
    if (k == 0 || p[k - 1] != '<' || !namesAHost(p + k, close - k))
        return;
    size_t v = close + 1;
    while (v < end && v - close < 64 && (p[v] == ' ' || p[v] == '\t' || p[v] == '\r' || p[v] == '\n'))
        ++v;
    hostAt(v, from, limit, end, matches);
}

// At a backslash: the server of a UNC path (\\\\FILESRV01\\share), but not a JSON string's escaped
// path (C:\\\\dir), whose backslashes follow a colon or a word. Returns where the scan goes on.
size_t NameMask::uncHost(size_t at, size_t from, size_t limit, size_t end, std::vector<Match>& matches)
{
    const unsigned char* p = m_buffer.data();
    if (at + 1 >= end || p[at + 1] != '\\')
        return at;
    // A drive's colon (C:\\\\dir, a JSON string's escaped path) or a word leads to no server.
    const bool drive =
        at >= 2 && p[at - 1] == ':' && isLetter(p[at - 2]) && (at == 2 || !isHostChar(p[at - 3]));
    if (at > 0 && (isHostChar(p[at - 1]) || drive || p[at - 1] == '\\'))
        return at + 1;
    size_t host = at + 2;
    while (host < end && host - at < 8 && p[host] == '\\') // written escaped, as JSON does
        ++host;
    hostAt(host, from, limit, end, matches);
    return host - 1;
}

// A host name at a place: up to the first character that no host name holds; it must hold a
// letter. It is replaced, and known in the rest of the text.
void NameMask::hostAt(size_t at, size_t from, size_t limit, size_t end, std::vector<Match>& matches)
{
    const unsigned char* p = m_buffer.data();
    size_t stop = at;
    while (stop < end && stop - at < kReach && isHostChar(p[stop]))
        ++stop;
    while (stop > at && (p[stop - 1] == '.' || p[stop - 1] == '-'))
        --stop;
    const bool letters =
        std::any_of(p + at, p + stop, [](unsigned char c) { return !isDigit(c) && c != '.'; });
    if (stop == at || !letters || (stop == end && !m_last) || at < from || at >= limit)
        return;
    bool firstTime = false;
    const QByteArray placeholder = placeholderOf(NameMap::Kind::Host, p + at, stop - at, &firstTime);
    matches.push_back({at, stop, placeholder});
    if (placeholder.isEmpty() || !firstTime)
        return;
    const QByteArray host =
        folded(QByteArray(reinterpret_cast<const char*>(p + at), static_cast<qsizetype>(stop - at)));
    if (!m_defined.contains(host)) {
        m_defined.insert(host, placeholder);
        m_definedBeginnings.set(NameMap::beginningOf(host));
        NameMap::noteFirst(host, m_interesting);
    }
}

// Whether the word beginning at i may be a name known or defined, by its first two letters; a
// word of one letter, or one going on with "." or "-", is looked at whole.
bool NameMask::mayBeginAName(const unsigned char* p, size_t i, size_t end) const
{
    const unsigned char second = i + 1 < end ? p[i + 1] : 0;
    if (!kWord[second])
        return true;
    const size_t pair = size_t(lower(p[i])) << 8 | lower(second);
    return m_known->beginnings[pair] || m_definedBeginnings[pair];
}

// At a letter a name begins with: the word there, when it is a host or user name known, or one the
// text defined before. A word is a whole run of letters, digits, "_", "-" and "." (a full stop
// after it not counted), looked up case-blind. Returns where the scan goes on.
size_t NameMask::atWord(size_t start, size_t end, std::vector<Match>& matches)
{
    const unsigned char* p = m_buffer.data();
    if (start > 0 && isHostChar(p[start - 1]))
        return start; // inside a word
    size_t i = start;
    while (i < end && isHostChar(p[i]))
        ++i;
    if (i == end && !m_last)
        return i; // a word that may go on: looked at in the next call, which begins before it
    size_t stop = i;
    while (stop > start && (p[stop - 1] == '.' || p[stop - 1] == '-'))
        --stop;
    const auto length = static_cast<qsizetype>(stop - start);
    if (length == 0 || length > static_cast<qsizetype>(kReach))
        return i - 1;
    // Most words are passed over by their first two letters, without a look-up.
    const size_t pair = length == 1 ? lower(p[start]) : size_t(lower(p[start])) << 8 | lower(p[start + 1]);
    if (!m_known->beginnings[pair] && !m_definedBeginnings[pair])
        return i - 1;
    m_word.resize(length);
    for (qsizetype k = 0; k < length; ++k)
        m_word[k] = static_cast<char>(lower(p[start + static_cast<size_t>(k)]));
    if (const QByteArray placeholder = knownPlaceholder(m_word); !placeholder.isEmpty()) {
        matches.push_back({start, stop, placeholder});
    } else if (const qsizetype dot = m_word.indexOf('.'); dot > 0) {
        // A host's full name (TESTPC.corp.example) is that host; a name before one dot and an
        // extension (TESTPC.log, ann.txt) is a file's.
        if (looksLikeADomain(m_word, dot)) {
            m_word.truncate(dot);
            if (const QByteArray host = knownPlaceholder(m_word); host.startsWith("host-"))
                matches.push_back({start, stop, host});
        }
    }
    return i - 1;
}

// The placeholder of a name known when the text began or defined in it since, case folded; empty
// for any other word.
QByteArray NameMask::knownPlaceholder(const QByteArray& folded) const
{
    if (const auto found = m_known->placeholders.constFind(folded); found != m_known->placeholders.cend())
        return *found;
    if (const auto own = m_defined.constFind(folded); own != m_defined.cend())
        return *own;
    return {};
}
