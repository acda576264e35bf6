#pragma once

#include "case/CollectOptions.h"
#include "cli/OptionTable.h"

// The command line of collect as read: the options, and the targets given after "--" (one is
// taken; more are refused once the line is read).
using CollectLine = WithOperands<CollectOptions>;
using CollectCommand = VerbCommand<CollectLine>;

const Grammar<CollectLine>& collectGrammar();

// Reads the arguments after "collect". A hosts file is read here: a line that cannot be a host is a
// usage error naming the file and the line.
CollectCommand parseCollectArguments(const QStringList& arguments);

// The options a case folder keeps, read back for a resume through the same table: only those collect
// itself records (--jobs, --timeout, --connect-timeout, --sudo, --accept-new-host-keys and the
// build's options), each checked as the command line checks it. A recorded --ssh-config is put in
// sshConfig and not used: a configuration file can run commands, so a resume takes one only from its
// own command line.
std::optional<CollectOptions> readRecordedOptions(const QStringList& recorded, QString* sshConfig,
                                                  QString* why);

// "ts6satchel collect ...": the status to end with.
int collectVerb(const QStringList& arguments);
