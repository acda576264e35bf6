#pragma once

#include "delivery/EchoMask.h"
#include "platform/StopToken.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

// How the client reaches the server: what every request carries and how long it may take.
struct TusConnection
{
    QUrl endpoint{};       // where uploads are created, without a user or password
    QByteArray token{};    // the bearer token, or empty; never logged
    QByteArray userName{}; // the user and password the URL named, for basic authentication; never
    QByteArray password{}; // written anywhere, and hidden in what the server says
    QString caCert{};      // a private CA's certificates, besides the system's store
    std::chrono::milliseconds connectTimeout{15000};
    long lowSpeedBytes = 1024; // a request slower than this...
    long lowSpeedSeconds = 30; // ...for this long fails as a network error
    // A request ends at a deadline however its bytes trickle: a request without a body has
    // answerTimeout in all, one with a body that and its body's time at slowestBytesPerSecond.
    std::chrono::milliseconds answerTimeout{120000};
    qint64 slowestBytesPerSecond = 16 << 10;
};

// One request's outcome: the server's answer, a network failure, or a stop asked for.
struct TusReply
{
    enum class Kind
    {
        Answered, // the server gave a status
        Network,  // no answer: connection, timeout, TLS, a cut transfer
        Stopped,  // cancelled or interrupted before an answer
    };
    Kind kind = Kind::Network;
    long status = 0;
    QByteArray reason{};                   // the status line's text ("Unauthorized"), secrets masked
    QHash<QByteArray, QByteArray> headers; // by lower-case name, as they came
    QByteArray body{};                     // the first few KiB, for the reason of a refusal, secrets masked
    QString error{};                       // the network failure, in curl's words, secrets masked
    qint64 bodySent = 0;                   // bytes of a PATCH's body that went out
    qint64 bodyReceived = 0;               // bytes of the answer's body
    bool permanent = false;                // a network failure no other try can mend

    bool ok() const { return kind == Kind::Answered && status >= 200 && status < 300; }
    // A failure worth another try: the network, or the server's own trouble (5xx).
    bool transient() const
    {
        return (kind == Kind::Network && !permanent) || (kind == Kind::Answered && status >= 500);
    }
    QByteArray header(const char* name) const { return headers.value(QByteArray(name)); }
    // What went wrong, in one line: "the server answered 401 Unauthorized: ..." or the network's reason.
    QString describe() const;
};

// A tus 1.0 client (core, creation, termination) over libcurl. One connection is kept open and
// reused from request to request. Every wait ends early when the stop token its owner hands it
// is requested (a Cancel button, from any thread) or a signal asks the program to stop. What a reply carries
// to be shown (its status text, body and failure) comes with the token and the password masked, however the
// server echoed them.
class TusClient
{
public:
    TusClient(TusConnection connection, const StopToken& stop);
    ~TusClient();
    TusClient(const TusClient&) = delete;
    TusClient& operator=(const TusClient&) = delete;

    const QUrl& endpoint() const { return m_connection.endpoint; }

    // POST: a new upload of length bytes; its address is the reply's Location, see locationOf.
    TusReply create(qint64 length, const QByteArray& metadata);
    // HEAD: the offset the server holds, in Upload-Offset.
    TusReply offsetOf(const QUrl& upload);
    // PATCH: bytes of the open file fd from offset on, placed at offset of the upload.
    TusReply patch(const QUrl& upload, int fd, qint64 offset, qint64 bytes);
    // DELETE: the server forgets the upload.
    TusReply terminate(const QUrl& upload);
    // Waits, or less when a stop is asked for; false when it was.
    bool pause(std::chrono::milliseconds wait);

    // The upload's address from a creation's reply, resolved against the endpoint, without a user
    // or password; empty when the reply names none, one on another server (the token goes only
    // where it was meant to), or one that holds a secret (it is kept in files and shown).
    QUrl locationOf(const TusReply& created) const;
    // Server text, for a message, with the secrets masked.
    QByteArray masked(const QByteArray& text) const { return m_mask.masked(text); }
    // Whether an address is on the server the client was made for: same scheme, host and port.
    bool isOnServer(const QUrl& url) const;

    // Called while a PATCH runs with the bytes of it sent so far.
    std::function<void(qint64)> onSent;
    bool stopRequested() const { return m_stop.stopRequested(); }

    // One request on its way (the transfer's callbacks see it).
    struct Request;

private:
    long deadlineMs(qint64 bodyBytes) const;
    TusReply perform(Request& request);

    const TusConnection m_connection;
    const EchoMask m_mask;
    struct Handles;
    std::unique_ptr<Handles> m_handles;
    const StopToken& m_stop;
    std::unique_ptr<StopToken::Wake> m_wake; // goes before the handles it wakes
};

// Upload-Metadata's value: each key with its value in base64, pairs joined by commas.
QByteArray tusMetadata(const QList<std::pair<QByteArray, QByteArray>>& pairs);
