#include "support/HeldAccess.h"

#include <QFile>

#include <fcntl.h>
#include <poll.h>
#include <sys/fanotify.h>
#include <unistd.h>

namespace {

std::unique_ptr<HeldAccess> marked(const QString& path, unsigned flags, uint64_t mask)
{
    UniqueFd group(::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_LARGEFILE));
    if (!group || ::fanotify_mark(group.get(), FAN_MARK_ADD | flags, mask, AT_FDCWD,
                                  QFile::encodeName(path).constData()) != 0)
        return nullptr;
    return std::make_unique<HeldAccess>(std::move(group));
}

} // namespace

std::unique_ptr<HeldAccess> HeldAccess::onOpen(const QString& file)
{
    return marked(file, 0, FAN_OPEN_PERM);
}

std::unique_ptr<HeldAccess> HeldAccess::onRead(const QString& folderOnItsOwnMount)
{
    return marked(folderOnItsOwnMount, FAN_MARK_MOUNT, FAN_ACCESS_PERM);
}

HeldAccess::~HeldAccess()
{
    release();
}

bool HeldAccess::waitHeld(const std::function<bool()>& stillGoing, int milliseconds)
{
    constexpr int kStep = 100;
    pollfd ready{m_group.get(), POLLIN, 0};
    int waited = 0;
    while (!m_held && ::poll(&ready, 1, kStep) == 0)
        if ((waited += kStep) >= milliseconds || !stillGoing())
            return false;
    if (m_held)
        return true;
    fanotify_event_metadata event{};
    if (::read(m_group.get(), &event, sizeof event) < static_cast<ssize_t>(sizeof event) || event.fd < 0)
        return false;
    m_held.reset(event.fd);
    return true;
}

void HeldAccess::release()
{
    if (m_held) {
        const fanotify_response allow{m_held.get(), FAN_ALLOW};
        [[maybe_unused]] const ssize_t written = ::write(m_group.get(), &allow, sizeof allow);
        m_held.reset();
    }
    m_group.reset(); // the marks go with the group, and any access still waiting is allowed
}
