#pragma once

#include "delivery/FileUpload.h"
#include "delivery/UploadOptions.h"
#include "outside/ProgressSink.h"

#include <QStringList>

#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

// The files a target sends: the package itself, or every plain file of a case folder (links and
// hidden files left alone), the index and the sums last, so that their arrival means the rest
// arrived. Empty, with the reason, when the target cannot be sent: a case folder is sent only when
// it and every folder and file it sends are the user's own and writable by no one else. What a
// case folder holds and does not send is listed in leftOut, with the reason.
std::vector<UploadSource> uploadSources(const QString& target, QString* error,
                                        QStringList* leftOut = nullptr);

// The files of a run sent one after another over one client, the rest left for a run again once one
// is not sent. A case folder's record of the files the server holds whole (.upload-sent, taken only
// when it is the user's own) is read first, so that those are not sent again, and kept up to date
// after each file. The command line and the window both send through it.
class UploadSession
{
public:
    UploadSession(TusClient& client, const QString& target, std::vector<UploadSource> sources,
                  qint64 chunkBytes);

    std::vector<UploadOutcome> run();
    // Whether every file was sent, once run.
    bool allSent() const;

    // Told each file's name as it begins, and the bytes the server holds of it as they grow.
    ProgressSink* progress = nullptr;
    // A line for the person: a resume, a retry, a record not taken.
    std::function<void(const QString&)> onNote;
    std::function<void(const UploadOutcome&)> onFileEnds;

private:
    TusClient& m_client;
    const std::vector<UploadSource> m_sources;
    const qint64 m_chunkBytes;
    const QString m_record; // a case folder's .upload-sent; empty for a package
    std::vector<UploadOutcome> m_outcomes;
};

// The connection an upload run makes, checked before any request: the URL an http or https
// address, its user and password taken out of it (they go in their own header, never in a file);
// the token read (see readToken); the token or password going over plain http only to this machine
// (127.0.0.0/8, ::1, localhost); the CA file readable. A run that holds a secret makes the process
// not dumpable first, for the rest of its life: no core dump or other user's debugger sees it.
// None, with the reason, when the run cannot start.
std::optional<TusConnection> uploadConnection(const UploadOptions& options,
                                              const QByteArray& environmentToken, QString* why);

// Whether the host names this machine: an address of 127.0.0.0/8 written out in full, ::1, or
// localhost.
bool isLoopbackHost(const QString& host);

// An address as it is kept and shown: never with a user or password.
QString withoutUserInfo(const QString& url);

// Where an upload run shows itself: an updating line on a terminal, a line per file otherwise.
struct UploadDisplay
{
    std::FILE* stream = stderr;
    bool terminal = false;
};

// The outcomes of a run as the JSON --json prints, with the reason of a run that could not start.
QByteArray uploadJson(const QString& endpoint, const std::vector<UploadOutcome>& outcomes,
                      const QString& error = {});

// "ts6satchel upload" with its options read: the exit status.
int runUpload(const UploadOptions& options);
