#pragma once

#include <QString>
#include <QStringList>

class AppConfig;

// Writes "TSVERSION.TXT": version, product paths, computer, user and the package file list, each
// line ended by CR LF. Failing to write it raises a run-time error.
void WriteVersionManifest(const QString& manifestPath, const QStringList& packageFiles, AppConfig& config);
