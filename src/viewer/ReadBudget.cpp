#include "viewer/ReadBudget.h"

#include <algorithm>

bool ReadBudget::take(quint64 entries, quint64 characters)
{
    const std::lock_guard lock(m_mutex);
    if (entries > m_entries - m_entriesTaken || characters > m_characters - m_charactersTaken)
        return false;
    m_entriesTaken += entries;
    m_charactersTaken += characters;
    return true;
}

void ReadBudget::give(quint64 entries, quint64 characters)
{
    const std::lock_guard lock(m_mutex);
    m_entriesTaken -= std::min(entries, m_entriesTaken);
    m_charactersTaken -= std::min(characters, m_charactersTaken);
}
