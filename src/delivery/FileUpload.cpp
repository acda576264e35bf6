#include "delivery/FileUpload.h"

#include "base/CHandle.h"
#include "base/SystemError.h"
#include "platform/OwnFiles.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <openssl/evp.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

constexpr int kTries = 5;
constexpr qint64 kHashBlock = 1 << 20;
// Requests a file may take: these to begin with, and one more for every kBytesPerRequest bytes the
// server's offset moves past the furthest it reported. A server taking whole chunks never comes
// near it; one taking a byte a request is stopped after a few dozen.
constexpr qint64 kFreeRequests = 24;
constexpr qint64 kBytesPerRequest = 16 << 10;
// Bytes a file may cost beyond what the server kept: the file once more and two requests' worth,
// enough for a server that lost an upload or a few cut requests, never more whatever it claims.
constexpr qint64 kSpareRequests = 2;

using DigestContext = unique_c_ptr<EVP_MD_CTX, EVP_MD_CTX_free>;

// The offset header of a reply, or none when it is missing or not a number from 0 to size.
std::optional<qint64> offsetHeader(const TusReply& reply, qint64 size)
{
    bool ok = false;
    const qint64 offset = reply.header("upload-offset").toLongLong(&ok);
    if (!ok || offset < 0 || offset > size)
        return std::nullopt;
    return offset;
}

// Whether the open file is the one at path itself, no link on the way: the kernel's name for the
// descriptor is the path.
bool reachedDirectly(int fd, const QString& path)
{
    if (QFile::symLinkTarget(QStringLiteral("/proc/self/fd/%1").arg(fd)) == path)
        return true;
    errno = ELOOP;
    return false;
}

} // namespace

QByteArray fileSha256(int fd, const std::function<bool()>& stop)
{
    const DigestContext context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return {};
    std::vector<unsigned char> block(kHashBlock);
    for (off_t at = 0;;) {
        if (stop())
            return {};
        const ssize_t got = ::pread(fd, block.data(), block.size(), at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return {};
        if (got == 0)
            break;
        EVP_DigestUpdate(context.get(), block.data(), size_t(got));
        at += got;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), digest, &length);
    return QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex();
}

FileUpload::FileUpload(TusClient& client, UploadSource source, qint64 chunkBytes)
    : m_client(client), m_source(std::move(source)), m_chunkBytes(chunkBytes),
      m_statePath(uploadStatePath(m_source.path))
{}

FileUpload::~FileUpload()
{
    m_abandoned = true; // a check still reading stops; the future waits for it
}

UploadOutcome FileUpload::run()
{
    QElapsedTimer clock;
    clock.start();
    m_outcome.path = m_source.path;
    // Not blocking: a FIFO put in the file's place must not hold the run at the open. A case's file
    // is the user's own, never reached through a link, whichever part of its path was swapped for one.
    const bool caseFile = !m_source.relativePath.isEmpty();
    QString refused;
    UniqueFd fd = caseFile ? OwnFiles::openOwnFile(m_source.path, O_RDONLY | O_NOCTTY, &refused)
                           : UniqueFd(::open(QFile::encodeName(m_source.path).constData(),
                                             O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd && caseFile && !reachedDirectly(fd.get(), m_source.path)) {
        refused =
            QStringLiteral("%1 is not taken: a folder on its way is a symbolic link").arg(m_source.path);
        fd.reset();
    }
    m_fd = fd.get();
    if (!fd)
        end(UploadOutcome::End::Failed,
            refused.isEmpty() ? QStringLiteral("cannot read %1: %2").arg(m_source.path, errnoText(errno))
                              : refused);
    else if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) // two uploads of one file would fight over its state
        end(UploadOutcome::End::Failed,
            QStringLiteral("another upload of %1 is under way").arg(m_source.path));
    else if (openAndIdentify() && !sentBefore() && resumeOrCreate()) {
        for (Step step = Step::Go; step != Step::Stop;) {
            if (!m_offset)
                step = askOffset();
            else if (*m_offset < m_outcome.file.size)
                step = sendChunk();
            else
                step = finish();
        }
    }
    if (m_check.valid()) { // it reads the descriptor that closes now
        m_abandoned = true;
        m_check.wait();
    }
    m_outcome.seconds = double(clock.nsecsElapsed()) / 1e9;
    return m_outcome;
}

UploadOutcome::End FileUpload::end(UploadOutcome::End how, const QString& reason)
{
    m_outcome.end = how;
    m_outcome.reason = reason;
    return how;
}

bool FileUpload::openAndIdentify()
{
    struct stat info
    {};
    if (::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        end(UploadOutcome::End::Failed, QStringLiteral("%1 is not a plain file").arg(m_source.path));
        return false;
    }
    m_outcome.file = identityOf(info);
    if (m_source.known) {
        // Given by a checksum file: the upload starts now, and the file is read through beside it.
        m_outcome.file.sha256 = m_source.known->sha256;
        m_check = std::async(std::launch::async, [this] {
            return fileSha256(m_fd, [this] { return m_abandoned || m_client.stopRequested(); });
        });
        return true;
    }
    QElapsedTimer clock;
    clock.start();
    m_outcome.file.sha256 = fileSha256(m_fd, [this] { return m_client.stopRequested(); });
    m_outcome.hashSeconds = double(clock.nsecsElapsed()) / 1e9;
    if (m_client.stopRequested())
        end(UploadOutcome::End::Interrupted);
    else if (m_outcome.file.sha256.isEmpty())
        end(UploadOutcome::End::Failed,
            QStringLiteral("cannot read %1: %2").arg(m_source.path, errnoText(errno)));
    return !m_outcome.file.sha256.isEmpty();
}

// Whether the outcome is settled before any request: an earlier run sent these very bytes (or the
// file turned out not to match its checksum file).
bool FileUpload::sentBefore()
{
    const std::optional<SentBefore>& before = m_source.sentBefore;
    if (!before || before->file.size != m_outcome.file.size)
        return false;
    // A checksum file's SHA-256 speaks for the bytes only while the file is the very one the record
    // names; a file written since, whatever its times say, is read through first.
    if (m_source.known && !before->file.sameFile(m_outcome.file)) {
        m_check.wait();
        if (!checksumStillHolds())
            return true;
    }
    if (before->file.sha256 != m_outcome.file.sha256)
        return false;
    m_outcome.location = before->location;
    m_outcome.alreadySent = true;
    end(UploadOutcome::End::Sent);
    return true;
}

bool FileUpload::resumeOrCreate()
{
    const QString endpoint = QString::fromUtf8(m_client.endpoint().toEncoded());
    if (const std::optional<UploadState> state = readUploadState(m_statePath)) {
        // A location elsewhere than the server is never asked, nor told to forget anything: the
        // token would go with the question.
        const QUrl location(state->location, QUrl::StrictMode);
        const bool onServer = state->endpoint == endpoint && m_client.isOnServer(location);
        if (onServer && state->file.sameBytes(m_outcome.file)) {
            m_upload = QUrl(state->location);
            m_outcome.location = state->location;
            m_outcome.stateKept = true;
            m_resuming = true;
            return true; // the offset is asked of the server before anything is sent
        }
        if (onServer) {
            if (onNote)
                onNote(QStringLiteral("%1 changed since its upload began: starting over").arg(m_source.path));
            m_client.terminate(location); // the old upload is of no use to anyone
        }
        forgetState();
    }
    return create();
}

bool FileUpload::create()
{
    QList<std::pair<QByteArray, QByteArray>> metadata{
        {QByteArrayLiteral("filename"), QFileInfo(m_source.path).fileName().toUtf8()},
        {QByteArrayLiteral("sha256"), m_outcome.file.sha256},
    };
    if (!m_source.relativePath.isEmpty())
        metadata.append({QByteArrayLiteral("path"), m_source.relativePath.toUtf8()});
    for (;;) {
        if (!mayRequest())
            return false;
        const TusReply reply = m_client.create(m_outcome.file.size, tusMetadata(metadata));
        if (!reply.ok()) {
            if (failed(reply, QStringLiteral("creating the upload")) == Step::Stop)
                return false;
            continue;
        }
        m_upload = m_client.locationOf(reply);
        if (m_upload.isEmpty()) {
            end(UploadOutcome::End::Failed,
                QStringLiteral("the server gave no address for the upload that can be used: it names none, "
                               "one on another server, or one holding the token or password (Location: '%1')")
                    .arg(QString::fromLatin1(m_client.masked(reply.header("location"))).left(200)));
            return false;
        }
        m_outcome.location = QString::fromUtf8(m_upload.toEncoded());
        m_offset = 0;
        m_failures = 0;
        const UploadState state{QString::fromUtf8(m_client.endpoint().toEncoded()), m_outcome.location,
                                m_outcome.file};
        QString why;
        m_outcome.stateKept = writeUploadState(m_statePath, state, &why);
        if (!m_outcome.stateKept && onNote)
            onNote(
                QStringLiteral("cannot keep the upload's state in %1: %2; a cut connection will start over")
                    .arg(m_statePath, why));
        return true;
    }
}

bool FileUpload::goneOnServer(const TusReply& reply) const
{
    return reply.kind == TusReply::Kind::Answered && (reply.status == 404 || reply.status == 410);
}

bool FileUpload::mayRequest()
{
    const qint64 size = m_outcome.file.size;
    const qint64 spare = size + kSpareRequests * std::min(m_chunkBytes, size);
    if (m_outcome.sentBytes > m_furthest + spare) {
        end(UploadOutcome::End::Failed,
            QStringLiteral("the server keeps only part of what it is sent of %1: %2 bytes sent, and its "
                           "offset at byte %3 of %4; giving up")
                .arg(m_source.path)
                .arg(m_outcome.sentBytes)
                .arg(m_furthest)
                .arg(size));
        return false;
    }
    if (++m_requests <= kFreeRequests + m_furthest / kBytesPerRequest)
        return true;
    end(UploadOutcome::End::Failed,
        QStringLiteral("the server makes no headway with %1: after %2 requests its offset has come no "
                       "further than byte %3 of %4 (it goes back, or forward a few bytes at a time); "
                       "giving up")
            .arg(m_source.path)
            .arg(m_requests - 1)
            .arg(m_furthest)
            .arg(m_outcome.file.size));
    return false;
}

// Whether the server's offset passed the furthest it reported: only that starts the tries anew.
bool FileUpload::movedOn(qint64 offset)
{
    if (offset <= m_furthest)
        return false;
    m_furthest = offset;
    m_failures = 0;
    return true;
}

FileUpload::Step FileUpload::askOffset()
{
    if (!mayRequest())
        return Step::Stop;
    const TusReply reply = m_client.offsetOf(m_upload);
    const qint64 size = m_outcome.file.size;
    const std::optional<qint64> offset = offsetHeader(reply, size);
    const bool ours =
        reply.ok() && offset &&
        (reply.header("upload-length").isEmpty() || reply.header("upload-length").toLongLong() == size);
    if (goneOnServer(reply) || (reply.ok() && !ours)) {
        if (m_restarted)
            return end(UploadOutcome::End::Failed,
                       QStringLiteral("the server lost the upload of %1 twice").arg(m_source.path)),
                   Step::Stop;
        m_restarted = true;
        if (onNote)
            onNote(QStringLiteral("the server no longer has the upload of %1: starting over")
                       .arg(m_source.path));
        forgetState();
        return create() ? Step::Go : Step::Stop;
    }
    if (!reply.ok())
        return failed(reply, QStringLiteral("asking the server how much it holds"));
    m_offset = offset;
    movedOn(*offset); // a try that failed may still have moved the upload on
    if (m_resuming && m_outcome.resumedAt < 0)
        m_outcome.resumedAt = *offset;
    if (onProgress)
        onProgress(*offset, size);
    return Step::Go;
}

FileUpload::Step FileUpload::sendChunk()
{
    const qint64 size = m_outcome.file.size;
    const qint64 at = m_offset.value_or(0); // asked for before any chunk
    const qint64 bytes = std::min(m_chunkBytes, size - at);
    if (!mayRequest())
        return Step::Stop;
    m_client.onSent = [this, at, size](qint64 sent) {
        if (onProgress)
            onProgress(at + sent, size);
    };
    const TusReply reply = m_client.patch(m_upload, m_fd, at, bytes);
    m_client.onSent = nullptr;
    m_outcome.sentBytes += reply.bodySent;
    if (reply.ok()) {
        const std::optional<qint64> now = offsetHeader(reply, size);
        if (now && *now > at) { // below the furthest, it is sending again what the server lost
            m_offset = now;
            movedOn(*now);
            return checksumStillHolds() ? Step::Go : Step::Stop;
        }
        m_offset.reset();
        if (++m_failures < kTries)
            return Step::Again;
        end(UploadOutcome::End::Failed,
            QStringLiteral("the server does not keep the bytes of %1 sent at %2: after %3 tries its offset "
                           "still goes back or stands still")
                .arg(m_source.path)
                .arg(at)
                .arg(kTries));
        return Step::Stop;
    }
    return failed(reply, QStringLiteral("sending %1 bytes at %2").arg(bytes).arg(at));
}

FileUpload::Step FileUpload::failed(const TusReply& reply, const QString& doing)
{
    if (reply.kind == TusReply::Kind::Stopped)
        return end(UploadOutcome::End::Interrupted), Step::Stop;
    const bool offsetInDoubt =
        reply.kind == TusReply::Kind::Answered && (reply.status == 409 || reply.status == 412);
    if (reply.transient() || offsetInDoubt)
        return retryLater(reply, doing);
    return end(UploadOutcome::End::Failed,
               QStringLiteral("%1 of %2: %3").arg(doing, m_source.path, reply.describe())),
           Step::Stop;
}

FileUpload::Step FileUpload::retryLater(const TusReply& reply, const QString& doing)
{
    m_offset.reset(); // whatever went through, the server says where to go on
    if (++m_failures >= kTries)
        return end(UploadOutcome::End::Failed, QStringLiteral("%1 of %2 failed %3 times: %4")
                                                   .arg(doing, m_source.path)
                                                   .arg(kTries)
                                                   .arg(reply.describe())),
               Step::Stop;
    const int seconds = 1 << (m_failures - 1);
    if (onNote)
        onNote(QStringLiteral("%1: %2; trying again in %3 s").arg(doing, reply.describe()).arg(seconds));
    if (!m_client.pause(std::chrono::seconds(seconds)))
        return end(UploadOutcome::End::Interrupted), Step::Stop;
    return Step::Again;
}

void FileUpload::forgetState()
{
    QFile::remove(m_statePath);
    m_outcome.stateKept = false;
}

// The file read through beside the upload, once that is done, must have the SHA-256 its checksum
// file gave: if not, the upload is of no use and is removed from the server at once.
bool FileUpload::checksumStillHolds()
{
    if (!m_check.valid() || m_check.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
        return true;
    const QByteArray read = m_check.get();
    if (read == m_outcome.file.sha256)
        return true;
    if (read.isEmpty() && m_client.stopRequested())
        return end(UploadOutcome::End::Interrupted), false;
    const bool begun = !m_upload.isEmpty();
    if (begun) {
        m_client.terminate(m_upload);
        forgetState();
    }
    end(UploadOutcome::End::Failed,
        read.isEmpty()
            ? QStringLiteral("cannot read %1: %2").arg(m_source.path, errnoText(errno))
            : QStringLiteral("%1 does not match its SHA-256 in %2 (it is %3)%4")
                  .arg(m_source.path, m_source.known->from, QString::fromLatin1(read),
                       begun ? QStringLiteral("; the upload was removed from the server") : QString()));
    return false;
}

FileUpload::Step FileUpload::finish()
{
    // What was sent was read from this open file: it must still be what was hashed, untouched since,
    // its change time included (a write whose modification time was put back shows there).
    struct stat info
    {};
    if (::fstat(m_fd, &info) != 0 || !identityOf(info).sameFile(m_outcome.file)) {
        m_client.terminate(m_upload);
        forgetState();
        end(UploadOutcome::End::Failed,
            QStringLiteral("%1 changed while it was sent; send it again").arg(m_source.path));
        return Step::Stop;
    }
    if (m_check.valid()) {
        m_check.wait();
        if (!checksumStillHolds())
            return Step::Stop;
    }
    forgetState();
    m_outcome.stateKept = false;
    end(UploadOutcome::End::Sent);
    return Step::Stop;
}
