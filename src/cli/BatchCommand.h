#pragma once

#include "cli/OptionTable.h"
#include "platform/CommandLine.h"

using BatchCommand = VerbCommand<CommandLineOptions>;

// The start without a verb: the window, or a batch build of a folder or template.
const Grammar<CommandLineOptions>& batchGrammar();

// Reads the arguments that follow the program's own name. A line that cannot be read still says
// whether --json was asked for, so the refusal is answered in JSON too.
BatchCommand parseArguments(const QStringList& arguments);

// Whether NAME VALUE is an option of the build that reads (--since, --max-log-size); the reason in
// why when not. Collect checks the build options it hands each host with it.
bool checkBuildOption(const QString& name, const QString& value, QString* why);
