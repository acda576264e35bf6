#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A real tus server for the upload tests (tests/support/tus/server.js: @tus/server with a file
// store) on a free loopback port, its store in a temporary folder, and, when a test asks, a proxy in
// front of it that breaks uploads on purpose (tests/support/tus/proxy.js). Both run on Node.js with
// the packages scripts/install-tus-server.sh installed (the CTest fixture "tus"), and stop with the
// object.
//
// The server answers a creation with an absolute Location built from the Host the client sent,
// "http://127.0.0.1:PORT/files/ID", so through the proxy it names the proxy.
class TusServer
{
public:
    // With a token, a request without "Authorization: Bearer TOKEN" is answered 401.
    explicit TusServer(QString token = {});
    ~TusServer();
    TusServer(const TusServer&) = delete;
    TusServer& operator=(const TusServer&) = delete;

    // Whether the server's packages and Node.js are installed; the reason when not, with the command
    // that installs what is missing.
    static bool installed(QString* why);

    // Starts the server; false with the reason in error().
    bool start();
    // Where uploads are created: "http://127.0.0.1:PORT/files/".
    QString url() const;
    // Where the server keeps each upload (ID, and ID.json with its length and metadata) and each
    // plain PUT (put-NAME).
    QString storeDir() const;
    QString error() const { return m_error; }
    // A plain PUT here stores its body as storeDir()/put-NAME and is answered 201.
    QString putUrl(const QString& name) const;

    // Starts the proxy (and the server, if it is not yet started) with the faults given as its arguments,
    // e.g. {"--cut-after", "1000"} (the PATCH under way when 1000 bytes of PATCH bodies have passed in all is
    // cut there; the server keeps exactly what reached it), {"--fail-once", "503"} or {"--trickle", "65536"}
    // (bytes a second). A second call replaces the proxy. False with the reason in error().
    bool startProxy(const QStringList& faults = {});
    // "http://127.0.0.1:PORT/files/" of the proxy.
    QString proxyUrl() const;
    // The proxy's lines so far, one a request: "METHOD PATH STATUS BODYBYTES", STATUS "cut" for the
    // cut PATCH and "aborted" for one whose client went away, BODYBYTES the bytes of the body
    // forwarded to the server. Waits (bounded) until there are at least atLeast of them.
    QStringList proxyLines(int atLeast = 0);

    // What the server holds of the upload at uploadUrl: its bytes, and its metadata as the server
    // decoded it (name to value). Empty when it holds no such upload.
    QByteArray storedBytes(const QString& uploadUrl) const;
    QJsonObject storedMetadata(const QString& uploadUrl) const;
    // The IDs of the uploads the server holds.
    QStringList uploadIds() const;

private:
    int launch(QProcess& process, const QString& script, const QStringList& arguments);
    QString storedFile(const QString& uploadUrl) const;

    QTemporaryDir m_dir;
    const QString m_token;
    QString m_error;
    std::unique_ptr<QProcess> m_server;
    std::unique_ptr<QProcess> m_proxy;
    int m_port = 0;
    int m_proxyPort = 0;
    QStringList m_proxyLines;
};
