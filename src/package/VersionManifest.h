#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class AppConfig;

// The bytes of "TSVERSION.TXT": version, product paths, computer, user and the package file list,
// each line ended by CR LF.
QByteArray versionManifestText(const QStringList& packageFiles, AppConfig& config);

// Writes the manifest at its path (see placeFile) and returns its bytes, so that the build can put
// the same manifest there again just before it packs it. Failing to write raises a run-time error.
QByteArray WriteVersionManifest(const QString& manifestPath, const QStringList& packageFiles,
                                AppConfig& config);

// Puts the bytes at a Windows-style path as a new file renamed into place: an existing file of that
// name is replaced, never written through (a link standing there is replaced, not followed), and a
// failure leaves the old file as it was. Raises a run-time error with the given source on failure.
void placeFile(const QString& path, const QByteArray& bytes, const QString& source);
