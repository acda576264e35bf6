#pragma once

#include <QString>

// Windows wildcard matching, case-blind: "*" any run, "?" one character, and a "?" at the end of
// the pattern or before a "." may also match nothing. "*.*" matches every name.
bool MatchesWildcard(const QString& pattern, const QString& name);
// The same on a pattern and a name already folded with FoldName (a listing keeps its names folded).
bool MatchesFoldedWildcard(const QString& foldedPattern, const QString& foldedName);

// Upper-cases a name the way the file system compares names.
QString FoldName(const QString& name);
