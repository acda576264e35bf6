#pragma once

#include "delivery/KnownChecksum.h"
#include "delivery/TusClient.h"
#include "delivery/UploadState.h"

#include <QString>

#include <atomic>
#include <functional>
#include <future>
#include <optional>

// A case's file the server already holds whole, as an earlier run recorded it: its bytes, and the
// file they were read from.
struct SentBefore
{
    SentIdentity file{}; // an identity of zeros when the record names none
    QString location{};
};

// One file to send: where it is, and the name and path the server is told.
struct UploadSource
{
    QString path{};         // the file on this machine
    QString relativePath{}; // its path in a case folder, with the folder's name first; empty for a package;
                            // a case's file is sent only when it is the user's own (OwnFiles)
    std::optional<KnownChecksum> known{};   // its SHA-256 from a checksum file, checked as it goes
    std::optional<SentBefore> sentBefore{}; // sent whole by an earlier run: not sent again if unchanged
};

// How one file's upload ended.
struct UploadOutcome
{
    enum class End
    {
        Sent,        // the server holds every byte
        Failed,      // the reason says why; a state kept lets a later run resume
        Interrupted, // stopped on request; the state is kept
    };
    End end = End::Failed;
    QString path{};
    QString location{};    // the upload's address on the server, once created
    SentIdentity file{};   // size and SHA-256 of what was sent
    qint64 sentBytes = 0;  // body bytes this run put on the wire, resent ones included
    qint64 resumedAt = -1; // the server's offset this run began from, when it resumed
    double seconds = 0;
    double hashSeconds = 0;   // of seconds, reading the file through for its SHA-256 first
    bool stateKept = false;   // FILE.upload names the upload, for a later run to go on with
    bool alreadySent = false; // an earlier run sent these very bytes
    QString reason{};
};

// Sends one file with tus: resumes an upload kept in FILE.upload when the file is the same and the
// server still has it, starts a new one otherwise, and goes on from the offset the server reports
// after any failure (an upload the server no longer has, when asked, starts over once). A request failing on
// the network or with a 5xx is tried up to 5 times, 1, 2, 4 and 8 s apart; 409 and 412 re-ask the offset; any
// other 4xx ends the upload at once. The tries start anew only when the server's offset passes the
// furthest it reported, and the requests a file may take grow only with that: a server whose offset
// goes back and forth, or forward a few bytes at a time, ends the upload instead of holding it.
class FileUpload
{
public:
    FileUpload(TusClient& client, UploadSource source, qint64 chunkBytes);
    ~FileUpload();
    FileUpload(const FileUpload&) = delete;
    FileUpload& operator=(const FileUpload&) = delete;

    UploadOutcome run();

    // Bytes the server holds of the file, as the upload goes.
    std::function<void(qint64 done, qint64 total)> onProgress;
    // A line for the person: a resume, a retry.
    std::function<void(const QString&)> onNote;

private:
    enum class Step
    {
        Go,    // the request went through
        Again, // try again (after a pause when it failed)
        Stop,  // the outcome is set
    };
    bool openAndIdentify();
    bool sentBefore();
    bool mayRequest();
    bool movedOn(qint64 offset);
    bool resumeOrCreate();
    bool create();
    Step askOffset();
    Step sendChunk();
    Step failed(const TusReply& reply, const QString& doing);
    Step retryLater(const TusReply& reply, const QString& doing);
    bool goneOnServer(const TusReply& reply) const;
    void forgetState();
    Step finish();
    bool checksumStillHolds();
    UploadOutcome::End end(UploadOutcome::End how, const QString& reason = {});

    TusClient& m_client;
    const UploadSource m_source;
    const qint64 m_chunkBytes;
    const QString m_statePath;
    UploadOutcome m_outcome;
    int m_fd = -1;
    QUrl m_upload;
    std::optional<qint64> m_offset{}; // the server's offset as last reported; none when it must be asked
    int m_failures = 0;               // failed tries since the upload last moved on
    qint64 m_furthest = 0;            // the furthest offset the server has reported
    qint64 m_requests = 0;            // requests made for the file
    bool m_restarted = false;
    bool m_resuming = false;         // the upload is one a state named
    std::future<QByteArray> m_check; // the file's SHA-256, read while it goes, when a checksum file gave it
    std::atomic<bool> m_abandoned{false};
};

// The SHA-256 of an open file, read from its start, in lower-case hex; empty when it cannot be
// read or stop() asks to end.
QByteArray fileSha256(int fd, const std::function<bool()>& stop);
