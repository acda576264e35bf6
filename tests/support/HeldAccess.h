#pragma once

#include "base/CHandle.h"

#include <QString>

#include <functional>
#include <memory>

// Holds up the program where a slow disk or a stalled network share would: at its first open of a
// file, or at its first read of any file on a mount, until the test lets it go. Built on
// fanotify's permission events, which only root may use.
class HeldAccess
{
public:
    // Nothing when the system does not allow it (not root, no fanotify).
    static std::unique_ptr<HeldAccess> onOpen(const QString& file);
    static std::unique_ptr<HeldAccess> onRead(const QString& folderOnItsOwnMount);
    explicit HeldAccess(UniqueFd group) : m_group(std::move(group)) {}
    ~HeldAccess();
    HeldAccess(const HeldAccess&) = delete;
    HeldAccess& operator=(const HeldAccess&) = delete;

    // Waits until a process is held there; false when none comes within the time, or when the
    // program ends first (stillGoing, asked now and then, says false).
    bool waitHeld(const std::function<bool()>& stillGoing, int milliseconds = 300000);
    // Lets the held process go on; later accesses are no longer held.
    void release();

private:
    UniqueFd m_group;
    UniqueFd m_held; // the file of the access that waits for an answer
};
