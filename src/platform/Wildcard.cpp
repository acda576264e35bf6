#include "platform/Wildcard.h"

#include <vector>

QString foldName(const QString& name)
{
    return name.toUpper();
}

bool matchesWildcard(const QString& pattern, const QString& name)
{
    return matchesFoldedWildcard(foldName(pattern), foldName(name));
}

bool matchesFoldedWildcard(const QString& foldedPattern, const QString& n)
{
    const QString& p = foldedPattern;
    if (p == QLatin1String("*.*") || p == QLatin1String("*"))
        return true;
    const qsizetype pn = p.size();
    const qsizetype nn = n.size();
    // reachable[j]: the pattern consumed so far can match the first j characters of the name.
    thread_local std::vector<char> reachable;
    thread_local std::vector<char> next;
    reachable.assign(static_cast<size_t>(nn) + 1, 0);
    next.assign(reachable.size(), 0);
    reachable[0] = 1;
    for (qsizetype i = 0; i < pn; ++i) {
        const QChar c = p.at(i);
        std::fill(next.begin(), next.end(), 0);
        if (c == QLatin1Char('*')) {
            bool any = false;
            for (qsizetype j = 0; j <= nn; ++j) {
                any = any || reachable[static_cast<size_t>(j)];
                next[static_cast<size_t>(j)] = any;
            }
        } else if (c == QLatin1Char('?')) {
            const bool mayBeEmpty = i + 1 == pn || p.at(i + 1) == QLatin1Char('.');
            for (qsizetype j = 0; j <= nn; ++j) {
                if (!reachable[static_cast<size_t>(j)])
                    continue;
                if (j < nn)
                    next[static_cast<size_t>(j) + 1] = 1;
                if (mayBeEmpty && (j == nn || n.at(j) == QLatin1Char('.')))
                    next[static_cast<size_t>(j)] = 1;
            }
        } else {
            for (qsizetype j = 0; j < nn; ++j)
                if (reachable[static_cast<size_t>(j)] && n.at(j) == c)
                    next[static_cast<size_t>(j) + 1] = 1;
        }
        reachable.swap(next);
    }
    return reachable[static_cast<size_t>(nn)];
}
