#pragma once

#include <QtGlobal>

#include <mutex>

// What the packages read in one run may hold in memory together: their entries, and the characters
// of their names and of the texts that say what is wrong with them. A reader takes its share as it
// reads an archive's directory and gives it back when it is closed, so a run that reads packages
// one after the other can read as many as it likes, and a run that keeps them all (a case folder, a
// diff) stops at the budget with the damage named, never at the machine's memory. One budget is
// shared by the threads of a run.
class ReadBudget
{
public:
    static constexpr quint64 kEntries = 2'000'000;
    static constexpr quint64 kCharacters = quint64(128) << 20; // 128 Mi characters: 256 MiB

    explicit ReadBudget(quint64 entries = kEntries, quint64 characters = kCharacters)
        : m_entries(entries), m_characters(characters)
    {}

    // Takes entries and characters: false, taking nothing, when they do not fit in what is left.
    bool take(quint64 entries, quint64 characters);
    void give(quint64 entries, quint64 characters);

    quint64 entryLimit() const { return m_entries; }
    quint64 characterLimit() const { return m_characters; }

private:
    const quint64 m_entries;
    const quint64 m_characters;
    std::mutex m_mutex;
    quint64 m_entriesTaken = 0;
    quint64 m_charactersTaken = 0;
};
