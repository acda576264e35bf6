#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The disk space that the fetches of a collect run may still need, held against the free space of
// the case folder's file system. A fetch reserves the bytes its package is said to have before it
// starts, and only when the free space covers them, what the other fetches under way have yet to
// write, and a margin left free for the indexes and logs; a fetch is stopped when the free space
// falls under the margin while it runs (a server that sends more than it said, or another
// program filling the disk). One per run, on the run's thread.
class FetchSpace
{
public:
    // The bytes free for the user on the file system now; none when that cannot be told.
    using FreeBytes = std::function<std::optional<qint64>()>;
    static constexpr qint64 kMargin = qint64(32) << 20;

    // The space held for one fetch, let go when it goes.
    class Reservation
    {
    public:
        Reservation(FetchSpace& space, qint64 bytes);
        ~Reservation();
        Reservation(const Reservation&) = delete;
        Reservation& operator=(const Reservation&) = delete;
        // How many of its bytes are on the disk by now.
        void wrote(qint64 bytes) { m_written = bytes; }
        qint64 remaining() const { return std::max<qint64>(0, m_bytes - m_written); }

    private:
        FetchSpace& m_space;
        const qint64 m_bytes;
        qint64 m_written = 0;
    };

    explicit FetchSpace(FreeBytes freeBytes, qint64 margin = kMargin);
    FetchSpace(const FetchSpace&) = delete;
    FetchSpace& operator=(const FetchSpace&) = delete;

    // The free space of the file system that holds the open folder.
    static FreeBytes freeSpaceOf(int folder);

    // Holds bytes for a fetch; none, with the reason, when the disk has no room for them.
    std::unique_ptr<Reservation> reserve(qint64 bytes, QString* why);
    // Whether the free space is still at least the margin; the reason when not.
    bool enough(QString* why) const;

private:
    qint64 heldByOthers() const;

    const FreeBytes m_free;
    const qint64 m_margin;
    std::vector<const Reservation*> m_held;
};
