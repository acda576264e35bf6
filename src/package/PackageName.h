#pragma once

#include "outside/ISaveDialog.h"

#include <QDateTime>
#include <QString>

// The proposed package path: folder, "\", the prefix without its extension, the local time as
// "yyyy_mm_dd_hhmm", ".zip".
QString GetDefaultPackageName(const QString& folder, const QString& prefix,
                              const QDateTime& now = QDateTime::currentDateTime());

// Lets the user confirm or change the proposed path in the save dialog; the empty text when
// cancelled. A chosen name that does not end in ".ZIP" (in any case) gets ".ZIP".
QString GetPackageFileName(ISaveDialog& dialog, WindowHandle owner, const QString& programFolder,
                           const QString& proposed);
