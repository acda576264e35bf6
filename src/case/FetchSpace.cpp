#include "case/FetchSpace.h"

#include <QLocale>

#include <algorithm>
#include <limits>
#include <numeric>

#include <sys/statvfs.h>

namespace {

QString bytesText(qint64 bytes)
{
    return QStringLiteral("%1 bytes").arg(QLocale::c().toString(bytes));
}

} // namespace

FetchSpace::Reservation::Reservation(FetchSpace& space, qint64 bytes) : m_space(space), m_bytes(bytes)
{
    m_space.m_held.push_back(this);
}

FetchSpace::Reservation::~Reservation()
{
    std::erase(m_space.m_held, this);
}

FetchSpace::FetchSpace(FreeBytes freeBytes, qint64 margin) : m_free(std::move(freeBytes)), m_margin(margin) {}

FetchSpace::FreeBytes FetchSpace::freeSpaceOf(int folder)
{
    return [folder]() -> std::optional<qint64> {
        struct statvfs status
        {};
        if (::fstatvfs(folder, &status) != 0)
            return std::nullopt;
        return static_cast<qint64>(std::min<unsigned long long>(
            static_cast<unsigned long long>(status.f_bavail) * status.f_frsize,
            static_cast<unsigned long long>(std::numeric_limits<qint64>::max())));
    };
}

qint64 FetchSpace::heldByOthers() const
{
    return std::accumulate(m_held.cbegin(), m_held.cend(), qint64(0),
                           [](qint64 sum, const Reservation* r) { return sum + r->remaining(); });
}

std::unique_ptr<FetchSpace::Reservation> FetchSpace::reserve(qint64 bytes, QString* why)
{
    const std::optional<qint64> free = m_free();
    const qint64 others = heldByOthers();
    // A file system that cannot tell its free space is not held to it.
    if (free && *free - others - m_margin < bytes) {
        *why =
            QStringLiteral("the disk of the case folder has %1 free: too little for a package of %2 with %3 "
                           "still to come for the other hosts and %4 kept free")
                .arg(bytesText(*free), bytesText(bytes), bytesText(others), bytesText(m_margin));
        return nullptr;
    }
    return std::make_unique<Reservation>(*this, bytes);
}

bool FetchSpace::enough(QString* why) const
{
    const std::optional<qint64> free = m_free();
    if (free && *free < m_margin) {
        *why =
            QStringLiteral("stopped: the free space on the disk of the case folder fell to %1, under the %2 "
                           "kept free")
                .arg(bytesText(*free), bytesText(m_margin));
        return false;
    }
    return true;
}
