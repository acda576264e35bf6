#pragma once

#include <QString>

#include <cstdint>

// An opaque handle of a window of the program (the owner of a dialog).
using WindowHandle = std::uintptr_t;

// The description of a save-file dialog, kept from one dialog to the next: what the dialog is
// told and, after it, what it hands back (the chosen path up to the first NUL of the file buffer,
// and its flags).
struct SaveFileRecord
{
    int structSize = 0;
    WindowHandle owner = 0;
    QString filter; // descriptions and patterns separated by NUL, ended by two NULs
    QString file;   // the file buffer
    int maxFile = 0;
    QString fileTitle;
    int maxFileTitle = 0;
    QString initialDir;
    QString title;
    std::uint32_t flags = 0;
    QString defaultExtension;
};

namespace SaveFlags {
inline constexpr std::uint32_t OverwritePrompt = 0x2;
inline constexpr std::uint32_t HideReadOnly = 0x4;
inline constexpr std::uint32_t Explorer = 0x80000;
inline constexpr std::uint32_t LongNames = 0x200000;
} // namespace SaveFlags

// The system's save-file dialog: true when the user chose a path, false when cancelled or failed.
class ISaveDialog
{
public:
    virtual ~ISaveDialog() = default;
    virtual bool getSaveFileName(SaveFileRecord& record) = 0;
};
