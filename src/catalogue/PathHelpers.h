#pragma once

#include "outside/ComponentMakers.h"

#include <QString>
#include <QStringList>

#include <initializer_list>

class ITemplateReader;

// The shared path and file-system helpers. Paths are Windows-style texts; positions count from 1
// where the helpers speak of them; comparisons are exact unless a helper says otherwise.

bool FolderExists(const QString& folderPath);
bool FileExists(const QString& path);
bool IsRootedPath(const QString& path);
// Each asks a path utility of its own, made for the one question.
QString GetPath(const Maker<IPathUtility>& pathUtility, const QString& path);
QString GetFileName(const Maker<IPathUtility>& pathUtility, const QString& path);
QString JoinPath(const QString& separator, std::initializer_list<QString> parts);
QString MakeRelativePath(const QString& path, const QString& currentFolder);
QString RemoveExtension(const QString& fileName);
QString GetExtension(const QString& path);
void SplitCommandLine(const QString& commandLine, QString& first, QString& rest);
bool StringExistsInArray(const QString& text, const QStringList& list);
bool TryOpenTemplate(ITemplateReader& reader, const QString& path);
QString GetProgramDataPath();
QString ReadFileVersion(const QString& path);

// The found paths at indices 1 to n; entry 0 is always the empty text.
QStringList FindFiles(const QString& folder, const QString& pattern);
QString TrimAtNull(const QString& text);
// Removes leading and trailing blanks (spaces only).
QString trimBlanks(const QString& text);
QString AddBackslash(const QString& text);
