#pragma once

#include "cli/OptionTable.h"
#include "delivery/UploadOptions.h"

// The command line of upload as read: the options, and the packages or case folders named (one is
// taken; none or more are refused once the line is read).
using UploadLine = WithOperands<UploadOptions>;
using UploadCommand = VerbCommand<UploadLine>;

const Grammar<UploadLine>& uploadGrammar();

// Reads the arguments after "upload".
UploadCommand parseUploadArguments(const QStringList& arguments);

// "ts6satchel upload ...": the status to end with.
int uploadVerb(const QStringList& arguments);
