#pragma once

#include "delivery/FileUpload.h"
#include "delivery/UploadOptions.h"

#include <QStringList>

#include <cstdio>
#include <vector>

// The files a target sends: the package itself, or every plain file of a case folder (links and
// hidden files left alone), the index and the sums last, so that their arrival means the rest
// arrived. Empty, with the reason, when the target cannot be sent. What a case folder holds and
// does not send is listed in leftOut, with the reason.
std::vector<UploadSource> uploadSources(const QString& target, QString* error,
                                        QStringList* leftOut = nullptr);

// Where an upload run shows itself: an updating line on a terminal, a line per file otherwise.
struct UploadDisplay
{
    std::FILE* stream = stderr;
    bool terminal = false;
};

// The outcomes of a run as the JSON --json prints, with the reason of a run that could not start.
QByteArray uploadJson(const QString& endpoint, const std::vector<UploadOutcome>& outcomes,
                      const QString& error = {});

// "ts6satchel upload ARGUMENTS": the whole verb, from the arguments to the exit status.
int runUpload(const QStringList& arguments);
