#pragma once

#include "cli/OptionTable.h"
#include "viewer/ReadCommands.h"

using ReadCommand = VerbCommand<ReadOptions>;

// show, diff and open: the packages or case folders to read, and how to tell what was read.
const Grammar<ReadOptions>& showGrammar();
const Grammar<ReadOptions>& diffGrammar();
const Grammar<ReadOptions>& openGrammar();

ReadCommand parseShowArguments(const QStringList& arguments);
ReadCommand parseDiffArguments(const QStringList& arguments);
ReadCommand parseOpenArguments(const QStringList& arguments);

// "ts6satchel show ..." and "ts6satchel diff ...": the status to end with.
int showVerb(const QStringList& arguments);
int diffVerb(const QStringList& arguments);
