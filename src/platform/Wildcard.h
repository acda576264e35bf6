#pragma once

#include <QString>

// Windows wildcard matching, case-blind: "*" any run, "?" one character, and a "?" at the end of
// the pattern or before a "." may also match nothing. "*.*" matches every name.
bool matchesWildcard(const QString& pattern, const QString& name);
// The same on a pattern and a name already folded with foldName (a listing keeps its names folded).
bool matchesFoldedWildcard(const QString& foldedPattern, const QString& foldedName);

// Upper-cases a name the way the file system compares names.
QString foldName(const QString& name);
