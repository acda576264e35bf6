#pragma once

#include <QString>
#include <QStringList>

// The command line as the program reads it, rebuilt from the process arguments: each argument in
// double quotes, joined by one blank; an absolute host path is first turned into a Windows-style
// path, a trailing "/" becoming a trailing "\".
QString BuildCommandLine(const QStringList& arguments);
