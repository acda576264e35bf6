#pragma once

#include <QByteArray>
#include <QString>

// Reads the file version from the version resource of a Windows program file (PE format):
// "major.minor.build.revision", or the empty text for any other file.
QString readPeFileVersion(const QByteArray& image);
