#pragma once

#include "outside/ISaveDialog.h"

struct SaveDialogResult
{
    bool cancelled = true;
    QString path;
};

// The save-file dialog wrapper. Its dialog record is kept from one call to the next, so the flags
// that a dialog hands back are used again by the next one.
namespace mDlg {

SaveDialogResult ShowSave(ISaveDialog& dialog, WindowHandle owner, const QString& proposed,
                          const QString& title, const QString& initialFolder, const QString& filter,
                          const QString& defaultExtension);

} // namespace mDlg
