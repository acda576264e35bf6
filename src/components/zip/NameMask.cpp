#include "components/zip/NameMask.h"

#include <algorithm>
#include <array>
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

bool isHex(unsigned char c)
{
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isHostChar(unsigned char c)
{
    return kWord[c] || c == '-' || c == '.';
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

// Whether a key names a host, by its letters and digits, case folded: "Data Source", "db_host",
// "Server", "serverAddress" (an e-mail address is no host). Looked at from the end, without
// copying: most keys fail at their last letter.
bool namesAHost(const unsigned char* key, size_t length)
{
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

} // namespace

QByteArray NameMap::PlaceholderOf(Kind kind, const QByteArray& value, bool own)
{
    const QByteArray key = kind == Kind::Address ? value : folded(value);
    if (key.isEmpty() || key == "localhost" || (!own && key.size() < 3))
        return {};
    const QByteArray slot = QByteArray::number(static_cast<int>(kind)) + ':' + key;
    const std::lock_guard lock(m_mutex);
    if (const auto found = m_placeholders.constFind(slot); found != m_placeholders.cend())
        return *found;
    static constexpr const char* kPrefixes[] = {"host-", "user-", "ip-"};
    const int index = static_cast<int>(kind);
    const QByteArray placeholder = kPrefixes[index] + QByteArray::number(++m_counts[index]);
    m_placeholders.insert(slot, placeholder);
    m_given.emplace_back(placeholder, value);
    if (kind != Kind::Address && !m_names->placeholders.contains(key)) {
        auto names = std::make_shared<Known>(*m_names);
        names->placeholders.insert(key, placeholder);
        m_names = std::move(names);
    }
    return placeholder;
}

std::shared_ptr<const NameMap::Known> NameMap::KnownNames() const
{
    const std::lock_guard lock(m_mutex);
    return m_names;
}

QByteArray NameMap::MapText() const
{
    const std::lock_guard lock(m_mutex);
    QByteArray text;
    for (const auto& [placeholder, original] : m_given)
        text += placeholder + " = " + original + '\n';
    return text;
}

bool NameMap::IsEmpty() const
{
    const std::lock_guard lock(m_mutex);
    return m_given.empty();
}

NameMask::NameMask(std::shared_ptr<NameMap> map) : m_map(std::move(map)), m_known(m_map->KnownNames()) {}

void NameMask::Discover(const QByteArray& text, NameMap& map)
{
    NameMask reader(std::shared_ptr<NameMap>(&map, [](NameMap*) {}));
    Bytes ignored;
    reader.Feed(reinterpret_cast<const unsigned char*>(text.constData()), static_cast<size_t>(text.size()),
                true, ignored);
}

void NameMask::Feed(const unsigned char* data, size_t size, bool last, Bytes& out)
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
        return;
    }
    const size_t keep = m_next > kReach ? m_next - kReach : 0; // what a later match looks back on
    m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(keep));
    m_next -= keep;
}

void NameMask::process(size_t limit, size_t end, Bytes& out)
{
    std::vector<Match> matches;
    findAddresses(m_next, limit, end, matches);
    std::vector<Match> defined;
    findHosts(m_next, limit, end, defined);
    std::sort(defined.begin(), defined.end(),
              [](const Match& a, const Match& b) { return a.begin < b.begin; });
    findKnown(m_next, limit, end, defined, matches);
    matches.insert(matches.end(), defined.begin(), defined.end());
    std::sort(matches.begin(), matches.end(), [](const Match& a, const Match& b) {
        return a.begin != b.begin ? a.begin < b.begin : a.end > b.end;
    });
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

// IPv4 addresses, told by their dots; IPv6 addresses, by their colons.
void NameMask::findAddresses(size_t from, size_t limit, size_t end, std::vector<Match>& matches) const
{
    const unsigned char* p = m_buffer.data();
    // An address that begins before limit has its first dot at most three bytes later.
    const size_t dotsEnd = std::min(end, limit + 3);
    for (size_t i = from; i < dotsEnd;) {
        const auto* hit = static_cast<const unsigned char*>(std::memchr(p + i, '.', dotsEnd - i));
        if (hit == nullptr)
            break;
        const auto dot = static_cast<size_t>(hit - p);
        size_t start = dot;
        while (start > 0 && dot - start < 3 && isDigit(p[start - 1]))
            --start;
        const size_t length = start >= from && start < limit && start < dot
                                  ? ipv4At(p + start, std::min(end - start, size_t{15}))
                                  : 0;
        if (length > 0 && standsAlone(p, start, start + length, end)) {
            matches.push_back({start, start + length,
                               m_map->PlaceholderOf(NameMap::Kind::Address,
                                                    QByteArray(reinterpret_cast<const char*>(p + start),
                                                               static_cast<qsizetype>(length)))});
            i = start + length;
        } else {
            i = dot + 1;
        }
    }
    for (size_t i = from; i < limit;) {
        const auto* colon = static_cast<const unsigned char*>(std::memchr(p + i, ':', limit - i));
        if (colon == nullptr)
            break;
        size_t start = static_cast<size_t>(colon - p);
        while (start > 0 && static_cast<size_t>(colon - p) - start < kReach &&
               (isHex(p[start - 1]) || p[start - 1] == ':'))
            --start;
        size_t stop = static_cast<size_t>(colon - p);
        while (stop < end && stop - start < 45 && (isHex(p[stop]) || p[stop] == ':' || p[stop] == '.'))
            ++stop;
        while (stop > start && p[stop - 1] == '.') // a sentence's full stop
            --stop;
        if (start >= from && isIpv6(p + start, stop - start) && standsAlone(p, start, stop, end))
            matches.push_back({start, stop,
                               m_map->PlaceholderOf(NameMap::Kind::Address,
                                                    QByteArray(reinterpret_cast<const char*>(p + start),
                                                               static_cast<qsizetype>(stop - start)))});
        i = std::max(stop, static_cast<size_t>(colon - p) + 1);
    }
}

// The host of a URL (scheme://user@host), and the value of a key that names a host (host=db01,
// Data Source=tcp:db01,1433, "server": "db01").
void NameMask::findHosts(size_t from, size_t limit, size_t end, std::vector<Match>& matches) const
{
    const unsigned char* p = m_buffer.data();
    const auto hostAt = [&](size_t at) {
        size_t stop = at;
        while (stop < end && stop - at < kReach && isHostChar(p[stop]))
            ++stop;
        while (stop > at && (p[stop - 1] == '.' || p[stop - 1] == '-'))
            --stop;
        const bool letters =
            std::any_of(p + at, p + stop, [](unsigned char c) { return !isDigit(c) && c != '.'; });
        if (stop > at && letters && (stop < end || m_last) && at >= from && at < limit) {
            const QByteArray host(reinterpret_cast<const char*>(p + at), static_cast<qsizetype>(stop - at));
            matches.push_back({at, stop, m_map->PlaceholderOf(NameMap::Kind::Host, host), folded(host)});
        }
    };
    const size_t lookBehind = from > 8 ? from - 8 : 0;
    for (size_t i = lookBehind; i < limit;) {
        const void* hit = memmem(p + i, end - i, "://", 3);
        if (hit == nullptr)
            break;
        const size_t host = static_cast<size_t>(static_cast<const unsigned char*>(hit) - p) + 3;
        size_t at = host;
        for (size_t k = host; k < end && k - host < kReach && !std::strchr("/?#\"' \t\r\n<>", p[k]); ++k)
            if (p[k] == '@')
                at = k + 1; // past the user and password
        hostAt(at);
        i = host;
    }
    const auto valueOfKey = [&](size_t separator, size_t keyEnd) {
        // The key before: letters, digits, "_", "-", "." and blanks ("Data Source").
        while (keyEnd > 0 && p[keyEnd - 1] == ' ')
            --keyEnd;
        size_t k = keyEnd;
        while (k > 0 && keyEnd - k < 32 && (isHostChar(p[k - 1]) || p[k - 1] == ' '))
            --k;
        if (!namesAHost(p + k, keyEnd - k))
            return;
        size_t v = separator + 1;
        while (v < end && (p[v] == ' ' || p[v] == '"' || p[v] == '\''))
            ++v;
        if (v + 4 < end && std::memcmp(p + v, "tcp:", 4) == 0)
            v += 4;
        hostAt(v);
    };
    for (size_t i = from; i < limit;) { // key=value
        const auto* hit = static_cast<const unsigned char*>(std::memchr(p + i, '=', limit - i));
        if (hit == nullptr)
            break;
        const auto at = static_cast<size_t>(hit - p);
        valueOfKey(at, at);
        i = at + 1;
    }
    for (size_t i = from; i < limit;) { // "key": value
        const void* hit = memmem(p + i, std::min(end, limit + 1) - i, "\":", 2);
        if (hit == nullptr)
            break;
        const auto at = static_cast<size_t>(static_cast<const unsigned char*>(hit) - p);
        valueOfKey(at + 1, at);
        i = at + 1;
    }
}

// The host and user names already known, wherever one is a word of its own: a whole run of
// letters, digits, "_", "-" and "." (a full stop after it not counted), looked up case-blind.
void NameMask::findKnown(size_t from, size_t limit, size_t end, const std::vector<Match>& defined,
                         std::vector<Match>& matches)
{
    const unsigned char* p = m_buffer.data();
    size_t i = from;
    while (i > 0 && i < limit && isHostChar(p[i - 1]) && isHostChar(p[i]))
        ++i; // the rest of a word that began before: looked at already
    QByteArray word;
    auto next = defined.cbegin();
    while (i < limit) {
        while (i < limit && !isHostChar(p[i]))
            ++i;
        const size_t start = i;
        while (i < end && isHostChar(p[i]))
            ++i;
        if (i == end && !m_last)
            break; // a word that may go on in the next call: it is looked at then
        size_t stop = i;
        while (stop > start && (p[stop - 1] == '.' || p[stop - 1] == '-'))
            --stop;
        for (; next != defined.cend() && next->begin < start; ++next)
            if (!next->placeholder.isEmpty())
                m_defined.insert(next->host, next->placeholder);
        const auto length = static_cast<qsizetype>(stop - start);
        if (start >= limit || length == 0 || length > static_cast<qsizetype>(kReach))
            continue;
        word.resize(length);
        for (qsizetype k = 0; k < length; ++k)
            word[k] = static_cast<char>(lower(p[start + static_cast<size_t>(k)]));
        if (const auto found = m_known->placeholders.constFind(word); found != m_known->placeholders.cend())
            matches.push_back({start, stop, *found});
        else if (const auto own = m_defined.constFind(word); own != m_defined.cend())
            matches.push_back({start, stop, *own});
    }
}
