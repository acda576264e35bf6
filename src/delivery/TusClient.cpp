#include "delivery/TusClient.h"

#include "outside/Interruption.h"

#include <curl/curl.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

constexpr qsizetype kBodyKept = 4096;
constexpr qint64 kBodyLimit = 1 << 20;
constexpr long kUploadBuffer = 512 * 1024;

void initialiseCurl()
{
    static const bool done = [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        return true;
    }();
    (void)done;
}

using CurlList = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

} // namespace

// What a request sends: its method, address, extra headers, and for a PATCH the part of the file.
struct TusClient::Request
{
    Request(QByteArray method, QUrl url) : method(std::move(method)), url(std::move(url)) {}

    QByteArray method;
    QUrl url;
    QList<QByteArray> headers;
    int fd = -1;
    qint64 offset = 0;
    qint64 length = 0;
    qint64 sent = 0; // bytes of the body handed to curl
    bool readFailed = false;
    TusReply reply;
};

struct TusClient::Handles
{
    CURLM* multi = curl_multi_init();
    CURL* easy = curl_easy_init();
    char error[CURL_ERROR_SIZE]{};
    ~Handles()
    {
        curl_multi_cleanup(multi);
        curl_easy_cleanup(easy);
    }
};

namespace {

size_t readBody(char* buffer, size_t size, size_t count, void* data)
{
    auto* request = static_cast<TusClient::Request*>(data);
    const qint64 left = request->length - request->sent;
    const qint64 wanted = std::min<qint64>(left, qint64(size * count));
    if (wanted <= 0)
        return 0;
    ssize_t got;
    do
        got = ::pread(request->fd, buffer, size_t(wanted), request->offset + request->sent);
    while (got < 0 && errno == EINTR);
    if (got <= 0) { // the file shrank or cannot be read: the request fails, never sends short
        request->readFailed = true;
        return CURL_READFUNC_ABORT;
    }
    request->sent += got;
    return size_t(got);
}

// The first few KiB of a reply's body are kept; a body past a limit ends the request, so a server
// that never stops talking cannot hold the run.
size_t keepBody(char* data, size_t size, size_t count, void* target)
{
    auto* reply = static_cast<TusReply*>(target);
    const qsizetype room = kBodyKept - reply->body.size();
    if (room > 0)
        reply->body.append(data, std::min<qsizetype>(room, qsizetype(size * count)));
    reply->bodyReceived += qint64(size * count);
    return reply->bodyReceived > kBodyLimit ? 0 : size * count;
}

// Failures that another try cannot mend: the server's certificate, a scheme curl does not speak,
// the file itself.
bool isPermanent(CURLcode code)
{
    switch (code) {
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
    case CURLE_READ_ERROR:
    case CURLE_ABORTED_BY_CALLBACK:
        return true;
    default:
        return false;
    }
}

// One header line: a status line starts the headers anew (after a 100 Continue), others are kept
// by lower-case name.
size_t keepHeader(char* data, size_t size, size_t count, void* target)
{
    auto* reply = static_cast<TusReply*>(target);
    const QByteArray line = QByteArray(data, qsizetype(size * count)).trimmed();
    if (line.startsWith("HTTP/")) {
        reply->headers.clear();
        const QList<QByteArray> parts = line.split(' ');
        reply->reason =
            parts.size() > 2 ? line.mid(line.indexOf(' ', line.indexOf(' ') + 1) + 1) : QByteArray();
    } else if (const qsizetype colon = line.indexOf(':'); colon > 0) {
        reply->headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
    }
    return size * count;
}

} // namespace

QString TusReply::describe() const
{
    switch (kind) {
    case Kind::Stopped:
        return QStringLiteral("stopped");
    case Kind::Network:
        return error;
    case Kind::Answered:
        break;
    }
    QString text = QStringLiteral("the server answered %1").arg(status);
    if (!reason.isEmpty())
        text += QLatin1Char(' ') + QString::fromLatin1(reason);
    QString said = QString::fromUtf8(body).simplified();
    said.truncate(200);
    if (!said.isEmpty() && said.compare(QString::fromLatin1(reason), Qt::CaseInsensitive) != 0)
        text += QStringLiteral(": ") + said;
    return text; // cleaned of control sequences where it is shown on a terminal
}

QByteArray tusMetadata(const QList<std::pair<QByteArray, QByteArray>>& pairs)
{
    QList<QByteArray> items;
    for (const auto& [key, value] : pairs)
        items << key + ' ' + value.toBase64();
    return items.join(',');
}

TusClient::TusClient(TusConnection connection, const StopToken& stop)
    : m_connection(std::move(connection)),
      m_mask({m_connection.token, m_connection.password,
              m_connection.password.isEmpty() ? QByteArray()
                                              : m_connection.userName + ':' + m_connection.password}),
      m_stop(stop)
{
    initialiseCurl();
    m_handles = std::make_unique<Handles>();
    m_wake =
        std::make_unique<StopToken::Wake>(m_stop, [multi = m_handles->multi] { curl_multi_wakeup(multi); });
}

TusClient::~TusClient() = default;

bool TusClient::pause(std::chrono::milliseconds wait)
{
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + wait;
    while (!stopRequested()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0)
            return true;
        curl_waitfd signal{Interruption::wakeFd(), CURL_WAIT_POLLIN, 0};
        curl_multi_poll(m_handles->multi, &signal, signal.fd >= 0 ? 1 : 0, int(left.count()), nullptr);
    }
    return false;
}

long TusClient::deadlineMs(qint64 bodyBytes) const
{
    const qint64 slowest = std::max<qint64>(1, m_connection.slowestBytesPerSecond);
    return long(m_connection.answerTimeout.count() + bodyBytes * 1000 / slowest);
}

TusReply TusClient::perform(Request& request)
{
    CURL* const easy = m_handles->easy;
    curl_easy_reset(easy);
    m_handles->error[0] = '\0';
    const QByteArray url = request.url.toEncoded();
    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, m_handles->error);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(m_connection.connectTimeout.count()));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, m_connection.lowSpeedBytes);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, m_connection.lowSpeedSeconds);
    curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "ts6satchel/" TS6_VERSION);
    const QByteArray caCert = m_connection.caCert.toLocal8Bit();
    if (!caCert.isEmpty())
        curl_easy_setopt(easy, CURLOPT_CAINFO, caCert.constData());
    if (!m_connection.userName.isEmpty() || !m_connection.password.isEmpty()) {
        curl_easy_setopt(easy, CURLOPT_USERNAME, m_connection.userName.constData());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, m_connection.password.constData());
    }
    // A secret over plain http goes only to this machine (the options were refused otherwise), and
    // never by way of a proxy, which could be elsewhere.
    if (request.url.scheme() == QLatin1String("http") &&
        !(m_connection.token.isEmpty() && m_connection.password.isEmpty()))
        curl_easy_setopt(easy, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, keepHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &request.reply);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, keepBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &request.reply);

    // The token is put in its header here and nowhere else; curl's verbose trace stays off.
    QList<QByteArray> lines{QByteArrayLiteral("Tus-Resumable: 1.0.0"), QByteArrayLiteral("Expect:")};
    if (!m_connection.token.isEmpty())
        lines << QByteArrayLiteral("Authorization: Bearer ") + m_connection.token;
    lines << request.headers;
    CurlList headers(nullptr, curl_slist_free_all);
    for (const QByteArray& line : lines)
        headers.reset(curl_slist_append(headers.release(), line.constData()));
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.get());

    if (request.method == "PATCH") {
        curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, "PATCH");
        curl_easy_setopt(easy, CURLOPT_READFUNCTION, readBody);
        curl_easy_setopt(easy, CURLOPT_READDATA, &request);
        curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, curl_off_t(request.length));
        curl_easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, kUploadBuffer);
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, deadlineMs(request.length));
    } else {
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, deadlineMs(0));
        if (request.method == "HEAD") {
            curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        } else if (request.method == "POST") {
            curl_easy_setopt(easy, CURLOPT_POST, 1L);
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, 0L);
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, "");
        } else {
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.constData());
        }
    }

    TusReply& reply = request.reply;
    CURLM* const multi = m_handles->multi;
    curl_multi_add_handle(multi, easy);
    bool stopped = stopRequested();
    for (int running = 1; running && !stopped;) {
        curl_multi_perform(multi, &running);
        if (onSent && request.length > 0)
            onSent(request.sent);
        if (!running)
            break;
        curl_waitfd signal{Interruption::wakeFd(), CURL_WAIT_POLLIN, 0};
        curl_multi_poll(multi, &signal, signal.fd >= 0 ? 1 : 0, 1000, nullptr);
        stopped = stopRequested();
    }
    CURLcode result = CURLE_OK;
    int queued = 0;
    while (const CURLMsg* message = curl_multi_info_read(multi, &queued))
        if (message->msg == CURLMSG_DONE)
            result = message->data.result;
    curl_multi_remove_handle(multi, easy);

    reply.bodySent = request.sent;
    reply.reason = m_mask.masked(reply.reason);
    reply.body = m_mask.masked(reply.body, reply.bodyReceived > reply.body.size());
    if (stopped) {
        reply.kind = TusReply::Kind::Stopped;
    } else if (result != CURLE_OK) {
        reply.kind = TusReply::Kind::Network;
        reply.permanent = isPermanent(result) || request.readFailed;
        reply.error =
            request.readFailed ? QStringLiteral("the file could not be read at byte %1 (did it shrink?)")
                                     .arg(request.offset + request.sent)
            : m_handles->error[0] ? QString::fromLocal8Bit(m_mask.masked(QByteArray(m_handles->error)))
                                  : QString::fromLatin1(curl_easy_strerror(result));
    } else {
        reply.kind = TusReply::Kind::Answered;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &reply.status);
    }
    return reply;
}

TusReply TusClient::create(qint64 length, const QByteArray& metadata)
{
    Request request(QByteArrayLiteral("POST"), m_connection.endpoint);
    request.headers << QByteArrayLiteral("Upload-Length: ") + QByteArray::number(length);
    if (!metadata.isEmpty())
        request.headers << QByteArrayLiteral("Upload-Metadata: ") + metadata;
    return perform(request);
}

TusReply TusClient::offsetOf(const QUrl& upload)
{
    Request request(QByteArrayLiteral("HEAD"), upload);
    return perform(request);
}

TusReply TusClient::patch(const QUrl& upload, int fd, qint64 offset, qint64 bytes)
{
    Request request(QByteArrayLiteral("PATCH"), upload);
    request.headers << QByteArrayLiteral("Content-Type: application/offset+octet-stream")
                    << QByteArrayLiteral("Upload-Offset: ") + QByteArray::number(offset);
    request.fd = fd;
    request.offset = offset;
    request.length = bytes;
    return perform(request);
}

TusReply TusClient::terminate(const QUrl& upload)
{
    Request request(QByteArrayLiteral("DELETE"), upload);
    return perform(request);
}

QUrl TusClient::locationOf(const TusReply& created) const
{
    const QByteArray location = created.header("location");
    if (location.isEmpty() || m_mask.holds(location) ||
        m_mask.holds(QByteArray::fromPercentEncoding(location)))
        return {};
    QUrl resolved = m_connection.endpoint.resolved(QUrl::fromEncoded(location, QUrl::StrictMode));
    resolved.setUserInfo(QString());
    return isOnServer(resolved) ? resolved : QUrl();
}

bool TusClient::isOnServer(const QUrl& url) const
{
    const QUrl& base = m_connection.endpoint;
    return url.isValid() && url.scheme() == base.scheme() && url.host() == base.host() &&
           url.port(-1) == base.port(-1);
}
