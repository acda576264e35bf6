#include "support/TestEnvironment.h"
#include "support/TusServer.h"

#include "delivery/TusClient.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int kPatience = 120000; // milliseconds: what a busy machine may need for a whole run
const QByteArray kToken = "T0ken-for-the-tests";

// The upload run, with no proxy of the machine's in its way and the token, if any, in its
// environment.
std::unique_ptr<QProcess> startUpload(const QStringList& arguments, const QByteArray& environmentToken = {})
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name :
         {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "all_proxy"})
        environment.remove(QLatin1String(name));
    environment.remove(u"TS6_UPLOAD_TOKEN"_s);
    if (!environmentToken.isEmpty())
        environment.insert(u"TS6_UPLOAD_TOKEN"_s, QString::fromLatin1(environmentToken));
    process->setProcessEnvironment(environment);
    process->start(QStringLiteral(TS6_PROGRAM), QStringList{u"upload"_s, u"--json"_s} + arguments);
    return process;
}

struct Run
{
    int status = -1;
    QString err;
    QJsonObject json;
    QJsonObject file() const { return json[u"files"_s].toArray().last().toObject(); }
};

Run finish(QProcess& process)
{
    process.waitForFinished(kPatience);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardError()),
            QJsonDocument::fromJson(process.readAllStandardOutput()).object()};
}

Run upload(const QStringList& arguments, const QByteArray& environmentToken = {})
{
    return finish(*startUpload(arguments, environmentToken));
}

// The body bytes of PATCH requests the proxy forwarded, over all its lines.
qint64 patchedBytes(const QStringList& proxyLines)
{
    qint64 bytes = 0;
    for (const QString& line : proxyLines)
        if (line.startsWith(u"PATCH "_s))
            bytes += line.section(u' ', 3, 3).toLongLong();
    return bytes;
}

// Writes byte at the end of the file in place and gives the file its times back, as a tool that
// hides a change would.
bool changeInPlace(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat before
    {};
    const int fd = ::open(name.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0 || ::fstat(fd, &before) != 0)
        return false;
    const char byte = 'X';
    const bool written = ::pwrite(fd, &byte, 1, before.st_size - 1) == 1;
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    return ::close(fd) == 0 && written && ::utimensat(AT_FDCWD, name.constData(), times, 0) == 0;
}

// A port on loopback that nothing listens on.
int closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

} // namespace

class TestUpload : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void faults_data();
    void faults();
    void aCaseFolderGoesFileByFile();
    void aLinkSwappedIntoACaseIsNotFollowed();
    void anInterruptedUploadResumesLater();
    void aTricklingRequestMeetsItsDeadline();
    void plantedFiles_data();
    void plantedFiles();
    void changedInPlace_data();
    void changedInPlace();
};

void TestUpload::faults_data()
{
    QTest::addColumn<QStringList>("faults"); // the proxy's; none for no proxy, "dead" for no server
    // The server's address, or through its proxy: empty; "password", with a user and password; or a URL.
    QTest::addColumn<QString>("url");
    // The token: none; file, the right one in a token file; wrong, another; env, the right one in the
    // environment. With a token the server asks for it.
    QTest::addColumn<QString>("token");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said"); // standard error holds this; its last line when it names the program
    QTest::addColumn<bool>("stateKept");
    QTest::addColumn<QString>("checksum"); // PACKAGE.sha256 beside it: none, right or wrong
    const auto row = [](const char* name, const QString& faults, const QString& url, const QString& token,
                        int status, const QString& said, bool stateKept = false,
                        const QString& checksum = u"none"_s) {
        QTest::newRow(name) << faults.split(u' ', Qt::SkipEmptyParts) << url << token << status << said
                            << stateKept << checksum;
    };
    const QString sent = u"ts6satchel: sent "_s;
    const QString none = u"none"_s;
    const QString env = u"env"_s;
    row("plain", {}, {}, none, 0, sent);
    row("its checksum file, cut", u"--cut-after 1500000"_s, {}, none, 0, sent, false, u"right"_s);
    row("a checksum file that lies", {}, {}, none, 1,
        u"ts6satchel: upload failed: %1 does not match its SHA-256 in "_s, false, u"wrong"_s);
    row("token from a file", u"--fail-once 409"_s, {}, u"file"_s, 0, sent);
    row("a cut in a PATCH", u"--cut-after 300000"_s, {}, none, 0, sent);
    row("503 once", u"--fail-once 503"_s, {}, none, 0, sent);
    row("403 on a PATCH", u"--fail-once 403"_s, {}, none, 1,
        u"ts6satchel: upload failed: sending 65536 bytes at 0 of %1: the server answered 403"_s, true);
    row("wrong token", {}, {}, u"wrong"_s, 1,
        u"ts6satchel: upload failed: creating the upload of %1: the server answered 401"_s);
    row("no server", u"dead"_s, {}, none, 1,
        u"ts6satchel: upload failed: creating the upload of %1 failed 5 times: "_s);
    // A server that echoes the secrets it was sent, or misleads about its offset.
    row("the token echoed in a 401 body", u"--echo 401-body"_s, {}, env, 1,
        u"the server answered 401 Unauthorized: Unauthorized: the request said \"Authorization: Bearer "
        "********\""_s);
    row("the token echoed in a 503 body", u"--echo 503-body"_s, {}, env, 0,
        u"the server answered 503 Service Unavailable: Service Unavailable; you sent Authorization: Bearer "
        "********; trying again in 1 s"_s);
    row("the token echoed in the status text", u"--echo 401-reason"_s, {}, env, 1,
        u"the server answered 401 Refused Authorization: Bearer ********: Refused"_s);
    row("the token echoed in the upload's address", u"--echo location"_s, {}, env, 1,
        u"the server gave no address for the upload that can be used"_s);
    row("the URL's password echoed", u"--echo 401-body"_s, u"password"_s, none, 1,
        u"Authorization: Basic ********="_s);
    row("the URL's password kept out of the state", u"--fail-once 403"_s, u"password"_s, none, 1,
        u"the server answered 403"_s, true);
    row("the offset back and forth", u"--offsets swing"_s, {}, env, 1,
        u"after 5 tries its offset still goes back or stands still"_s, true);
    row("the offset a byte at a time", u"--offsets creep"_s, {}, env, 1,
        u"the server makes no headway with %1: after 24 requests its offset has come no further than byte 23 "
        "of 3157729"_s,
        true);
    // Just past 16 KiB a request earns the next request; the bytes sent are what end it.
    row("the offset a stride at a time", u"--offsets stride"_s, {}, env, 1,
        u"the server keeps only part of what it is sent of %1: "_s, true);
    // Refused before any request: nothing outside this machine is ever asked.
    row("the token over http elsewhere", {}, u"http://192.0.2.1:9/files/"_s, env, 64,
        u"ts6satchel: the token is not sent to http://192.0.2.1:9/files/: over plain http, a token or "
        u"password "
        "goes only to this machine"_s);
}

// Every fault ends the run as it should: the file on the server equals the package and nothing
// reached it twice; a server that echoes the secrets it was sent, or misleads about its offset,
// ends the upload with a clear message after a bounded number of requests. No secret is shown or
// kept: not on standard error, in --json or in the state file.
void TestUpload::faults()
{
    QFETCH(QStringList, faults);
    QFETCH(QString, url);
    QFETCH(QString, token);
    QFETCH(int, status);
    QFETCH(QString, said);
    QFETCH(QString, checksum);
    TusServer server(token == u"none"_s ? QString() : QString::fromLatin1(kToken));
    QVERIFY2(server.start(), qPrintable(server.error()));
    if (faults == QStringList{u"dead"_s})
        url = u"http://127.0.0.1:%1/files/"_s.arg(closedPort());
    else if (!faults.isEmpty() || !url.isEmpty())
        QVERIFY2(server.startProxy(faults), qPrintable(server.error()));
    if (url.isEmpty())
        url = faults.isEmpty() ? server.url() : server.proxyUrl();
    else if (url == u"password"_s)
        url = server.proxyUrl().replace(u"http://"_s, u"http://alice:Pa55word@"_s);
    QTemporaryDir dir;
    const QString package = dir.filePath(u"package.zip"_s);
    const QByteArray bytes = noise(3 * (1 << 20) + 12001);
    QVERIFY(writeFile(package, bytes));
    if (checksum != u"none"_s)
        QVERIFY(
            writeFile(package + u".sha256"_s,
                      (checksum == u"right"_s ? sha256Hex(bytes) : QByteArray(64, 'e')) + "  package.zip\n"));
    QStringList arguments{package, u"--url"_s, url, u"--chunk-size"_s, u"64K"_s};
    if (token == u"file"_s || token == u"wrong"_s) {
        QVERIFY(writeFile(dir.filePath(u"token"_s),
                          token == u"file"_s ? kToken + '\n' : QByteArray("not-it\n"),
                          QFile::ReadOwner | QFile::WriteOwner));
        arguments << u"--token-file"_s << dir.filePath(u"token"_s);
    }

    const Run run = upload(arguments, token == u"env"_s ? kToken : QByteArray());
    QVERIFY2(run.status == status, qPrintable(run.err));
    said.replace(u"%1"_s, package);
    QVERIFY2(
        (said.startsWith(u"ts6satchel: "_s) ? run.err.trimmed().section(u'\n', -1) : run.err).contains(said),
        qPrintable(run.err));
    QTEST(QFile::exists(package + u".upload"_s), "stateKept");
    const QByteArray state = readFile(package + u".upload"_s);
    const QByteArray json = QJsonDocument(run.json).toJson();
    for (const QByteArray& secret :
         {kToken, QByteArray("Authorization: Bearer " + kToken).toBase64(), QByteArray("not-it"),
          QByteArray("Pa55word"), QByteArray("alice:Pa55word").toBase64(), QByteArray("alice")}) {
        QVERIFY2(!run.err.toUtf8().contains(secret), secret.constData());
        QVERIFY2(!json.contains(secret), secret.constData());
        QVERIFY2(!state.contains(secret), secret.constData());
    }
    // However it misleads, the run ends after a bounded number of requests: a file of 49 chunks.
    QVERIFY2(server.proxyLines().size() <= 80, qPrintable(server.proxyLines().join(u'\n')));
    if (checksum == u"wrong"_s)
        QVERIFY2(server.uploadIds().isEmpty(), qPrintable(server.uploadIds().join(u' ')));
    if (status != 0)
        return;
    const QJsonObject file = run.file();
    QCOMPARE(file[u"state"_s].toString(), u"sent"_s);
    QCOMPARE(file[u"sha256"_s].toString().toLatin1(), sha256Hex(bytes));
    const QString stored = file[u"upload"_s].toString();
    QVERIFY2(server.storedBytes(stored) == bytes, qPrintable(stored));
    QCOMPARE(server.storedMetadata(stored)[u"sha256"_s].toString().toLatin1(), sha256Hex(bytes));
    QCOMPARE(server.storedMetadata(stored)[u"filename"_s].toString(), u"package.zip"_s);
    if (!faults.isEmpty()) {
        // The server keeps what reached it, and the run goes on from there: nothing is sent twice.
        const qint64 resent = patchedBytes(server.proxyLines()) - bytes.size();
        QVERIFY2(resent == 0, qPrintable(QString::number(resent)));
        QVERIFY2(run.err.contains(u"trying again in 1 s"_s), qPrintable(run.err));
    }
}

// Every file of a case folder arrives with its path in the case, the sums last; a run again sends
// only what changed.
void TestUpload::aCaseFolderGoesFileByFile()
{
    TusServer server;
    QVERIFY2(server.start(), qPrintable(server.error()));
    QTemporaryDir dir;
    const QString root = dir.filePath(u"case-7"_s);
    const QByteArray package = noise(200000);
    QVERIFY(writeFile(root + u"/hosts/a/package.zip"_s, package));
    QVERIFY(writeFile(root + u"/hosts/a/collect.log"_s, "ssh said little\n"));
    QVERIFY(writeFile(root + u"/index.json"_s, "{}\n"));
    QVERIFY(writeFile(root + u"/index.txt"_s, ""));
    QVERIFY(writeFile(root + u"/SHA256SUMS"_s, sha256Hex(package) + "  hosts/a/package.zip\n"));
    const Run run = upload({root, u"--url"_s, server.url()});
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QStringList paths;
    for (const QJsonValue file : run.json[u"files"_s].toArray()) {
        const QString stored = file[u"upload"_s].toString();
        paths << server.storedMetadata(stored)[u"path"_s].toString();
        QCOMPARE(server.storedBytes(stored), readFile(file[u"path"_s].toString()));
    }
    QCOMPARE(paths, (QStringList{u"case-7/hosts/a/collect.log"_s, u"case-7/hosts/a/package.zip"_s,
                                 u"case-7/index.json"_s, u"case-7/index.txt"_s, u"case-7/SHA256SUMS"_s}));

    // Sent again after the index changed: only the index goes.
    QVERIFY(writeFile(root + u"/index.json"_s, "{\"hosts\": []}\n"));
    const Run again = upload({root, u"--url"_s, server.url()});
    QVERIFY2(again.status == 0, qPrintable(again.err));
    QCOMPARE(again.err.count(u"already sent: "_s), 4);
    QCOMPARE(server.uploadIds().size(), 6);
}

// A case file swapped for a link while the run is under way is refused, never followed: the file
// the link names stays on this machine.
void TestUpload::aLinkSwappedIntoACaseIsNotFollowed()
{
    TusServer server;
    QVERIFY2(server.startProxy({u"--trickle"_s, u"2000000"_s}), qPrintable(server.error()));
    QTemporaryDir dir;
    const QString root = dir.filePath(u"case-8"_s);
    QVERIFY(writeFile(root + u"/hosts/a/package.zip"_s, noise(2 << 20)));
    QVERIFY(writeFile(root + u"/hosts/b/package.zip"_s, "b"));
    QVERIFY(writeFile(root + u"/index.json"_s, "{}\n"));
    QVERIFY(writeFile(dir.filePath(u"secret"_s), "the secret\n"));
    const auto process = startUpload({root, u"--url"_s, server.proxyUrl()});
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(root + u"/hosts/a/package.zip.upload"_s), kPatience);
    QVERIFY(QFile::remove(root + u"/hosts/b/package.zip"_s));
    QVERIFY(QFile::link(dir.filePath(u"secret"_s), root + u"/hosts/b/package.zip"_s));
    const Run run = finish(*process);
    QVERIFY2(run.status == 1, qPrintable(run.err));
    QVERIFY2(run.err.contains(u"b/package.zip is not taken: it is a symbolic link"_s), qPrintable(run.err));
    for (const QString& id : server.uploadIds())
        QVERIFY(server.storedBytes(server.url() + id) != "the secret\n");
}

// An upload stopped by a signal keeps its state and ends at once; the next run goes on from the
// server's offset without resending what the server holds. A package changed meanwhile starts
// over, and its old upload is removed from the server.
void TestUpload::anInterruptedUploadResumesLater()
{
    TusServer server(QString::fromLatin1(kToken));
    QVERIFY2(server.startProxy({u"--trickle"_s, u"1000000"_s}), qPrintable(server.error()));
    QTemporaryDir dir;
    const QString package = dir.filePath(u"package.zip"_s);
    QByteArray bytes = noise(4 << 20);
    QVERIFY(writeFile(package, bytes));
    const QStringList arguments{package, u"--url"_s, server.proxyUrl(), u"--chunk-size"_s, u"1M"_s};

    const auto stopMidway = [&](QString* upload) {
        const auto process = startUpload(arguments, kToken);
        // The state appears once the server has made the upload; then wait for bytes to arrive.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(package + u".upload"_s), kPatience);
        QTRY_VERIFY_WITH_TIMEOUT(
            !server.uploadIds().isEmpty() &&
                QFileInfo(server.storeDir() + u'/' + server.uploadIds().constLast()).size() > 0,
            kPatience);
        QElapsedTimer clock;
        clock.start();
        ::kill(pid_t(process->processId()), SIGINT);
        const Run run = finish(*process);
        qInfo("the interrupted upload ended %lld ms after SIGINT", clock.elapsed());
        QVERIFY2(run.status == 1, qPrintable(run.err));
        QVERIFY2(run.err.contains(u"interrupted"_s), qPrintable(run.err));
        QCOMPARE(run.file()[u"state"_s].toString(), u"interrupted"_s);
        QVERIFY(QFile::exists(package + u".upload"_s) && !readFile(package + u".upload"_s).contains(kToken));
        *upload = run.file()[u"upload"_s].toString();
    };

    QString first;
    stopMidway(&first);
    QVERIFY(!QTest::currentTestFailed());
    const qint64 held = QFileInfo(server.storeDir() + u'/' + first.section(u'/', -1)).size();
    Run run = upload(arguments, kToken);
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QCOMPARE(run.file()[u"upload"_s].toString(), first);
    QVERIFY2(run.file()[u"resumed_at"_s].toInteger() >= held, qPrintable(run.err));
    QCOMPARE(run.file()[u"sent_bytes"_s].toInteger(), bytes.size() - run.file()[u"resumed_at"_s].toInteger());
    QVERIFY(server.storedBytes(first) == bytes);
    QVERIFY(!QFile::exists(package + u".upload"_s));

    // Changed between two runs: a new upload, the old one gone from the server.
    QString second;
    stopMidway(&second);
    QVERIFY(!QTest::currentTestFailed());
    bytes[10] = char(bytes[10] + 1);
    QVERIFY(writeFile(package, bytes));
    run = upload(arguments, kToken);
    QVERIFY2(run.status == 0, qPrintable(run.err));
    QVERIFY2(run.err.contains(u"changed since its upload began: starting over"_s), qPrintable(run.err));
    QVERIFY(run.file()[u"upload"_s].toString() != second);
    QVERIFY(!run.file().contains(u"resumed_at"_s));
    QVERIFY(server.storedBytes(run.file()[u"upload"_s].toString()) == bytes);
    QVERIFY(!server.uploadIds().contains(second.section(u'/', -1)));
}

// A server that takes a body just fast enough never to look stalled is still cut off: a request has
// its answer time and its body's time at the slowest rate the client waits for.
void TestUpload::aTricklingRequestMeetsItsDeadline()
{
    TusServer server{QString()};
    QVERIFY2(server.startProxy({u"--trickle"_s, u"4096"_s}), qPrintable(server.error()));
    QTemporaryDir dir;
    const QString path = dir.filePath(u"body"_s);
    const qint64 size = 64 << 10; // 16 s at the trickle's pace, 2 s by the deadline
    QVERIFY(writeFile(path, noise(size)));
    TusConnection connection;
    connection.endpoint = QUrl(server.proxyUrl());
    connection.answerTimeout = std::chrono::seconds(1);
    connection.slowestBytesPerSecond = size;
    StopToken stop;
    TusClient client(connection, stop);
    const TusReply created = client.create(size, {});
    QVERIFY2(created.ok(), qPrintable(created.describe()));
    const QUrl upload = client.locationOf(created);
    QVERIFY(upload.isValid());
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    QVERIFY(fd >= 0);
    const TusReply patched = client.patch(upload, fd, 0, size);
    ::close(fd);
    QCOMPARE(patched.kind, TusReply::Kind::Network);
    QVERIFY2(patched.error.contains(u"timed out"_s, Qt::CaseInsensitive), qPrintable(patched.error));
}

void TestUpload::plantedFiles_data()
{
    QTest::addColumn<QString>("planted"); // in the case folder: what, relative to it
    QTest::addColumn<QString>("how");     // mine (as the user's own), another user's, group-writable, link
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("said");
    QTest::addColumn<int>("alreadySent"); // files the run takes for sent before
    const auto row = [](const char* name, const QString& planted, const char* how, int status,
                        const QString& said, int alreadySent = 0) {
        QTest::newRow(name) << planted << QString::fromLatin1(how) << status << said << alreadySent;
    };
    const QString record = u".upload-sent"_s;
    row("a record of the user's own", record, "mine", 0, u"already sent: "_s, 5);
    row("a record of another user's", record, "another", 0,
        u".upload-sent is not taken: it belongs to another user"_s);
    row("a record others may write", record, "group-writable", 0,
        u".upload-sent is not taken: others may write it"_s);
    row("a record that is a link", record, "link", 0, u".upload-sent is not taken: it is a symbolic link"_s);
    row("a state others may write", u"hosts/a/package.zip.upload"_s, "group-writable", 0, u"sent "_s);
    row("sums others may write", u"SHA256SUMS"_s, "group-writable", 1,
        u"SHA256SUMS is not taken: others may write it; a case folder is sent only when"_s);
    row("a folder others may write", u"hosts/a"_s, "group-writable", 1,
        u"hosts/a is not taken: others may write it"_s);
}

// What another user could have planted in a case folder, or could change there, is never taken: a
// record or a state not the user's own makes no file count as sent or resumed, and a file or folder
// that is not is never sent.
void TestUpload::plantedFiles()
{
    QFETCH(QString, planted);
    QFETCH(QString, how);
    QFETCH(int, status);
    QFETCH(QString, said);
    QFETCH(int, alreadySent);
    if (how == u"another"_s && ::geteuid() != 0)
        QSKIP("only root can give a file to another user");
    TusServer server;
    QVERIFY2(server.start(), qPrintable(server.error()));
    QTemporaryDir dir;
    const QString root = dir.filePath(u"case-9"_s);
    const QByteArray package = noise(300000);
    const QMap<QString, QByteArray> files{{u"hosts/a/package.zip"_s, package},
                                          {u"hosts/a/collect.log"_s, "ssh said little\n"},
                                          {u"index.json"_s, "{}\n"},
                                          {u"index.txt"_s, "a collected\n"},
                                          {u"SHA256SUMS"_s, sha256Hex(package) + "  hosts/a/package.zip\n"}};
    for (auto f = files.cbegin(); f != files.cend(); ++f)
        QVERIFY(writeFile(root + u'/' + f.key(), f.value()));
    // What an attacker writes: a record that every file was sent, or a state naming an upload on the
    // server that holds other bytes, complete.
    if (planted == u".upload-sent"_s) {
        QByteArray lines;
        for (auto f = files.cbegin(); f != files.cend(); ++f)
            lines += server.url().toUtf8() + '\t' + f.key().toUtf8() + '\t' +
                     QByteArray::number(f.value().size()) + '\t' + sha256Hex(f.value()) + '\t' +
                     server.url().toUtf8() + "planted\n";
        QVERIFY(writeFile(root + u'/' + planted, lines));
    } else if (planted.endsWith(u".upload"_s)) {
        const QString decoy = dir.filePath(u"decoy.zip"_s);
        QVERIFY(writeFile(decoy, noise(package.size(), 1)));
        const Run made = upload({decoy, u"--url"_s, server.url()});
        QVERIFY2(made.status == 0, qPrintable(made.err));
        const QJsonObject o{{u"endpoint"_s, server.url()},
                            {u"location"_s, made.file()[u"upload"_s].toString()},
                            {u"size"_s, double(package.size())},
                            {u"sha256"_s, QString::fromLatin1(sha256Hex(package))}};
        QVERIFY(writeFile(root + u'/' + planted, QJsonDocument(o).toJson()));
    }
    const QString path = root + u'/' + planted;
    const QByteArray name = QFile::encodeName(path);
    if (how == u"another"_s) {
        QCOMPARE(::chown(name.constData(), 65534, 65534), 0);
    } else if (how == u"group-writable"_s) {
        QCOMPARE(::chmod(name.constData(), QFileInfo(path).isDir() ? 0775 : 0660), 0);
    } else if (how == u"link"_s) {
        QVERIFY(QFile::rename(path, dir.filePath(u"elsewhere"_s)));
        QVERIFY(QFile::link(dir.filePath(u"elsewhere"_s), path));
    }
    const int before = int(server.uploadIds().size());

    const Run run = upload({root, u"--url"_s, server.url()});
    QVERIFY2(run.status == status, qPrintable(run.err));
    QVERIFY2(run.err.contains(said), qPrintable(run.err));
    QCOMPARE(run.err.count(u"already sent: "_s), alreadySent);
    if (status != 0) {
        QCOMPARE(server.uploadIds().size(), before); // nothing of the case went
        return;
    }
    // Every file not taken for sent is on the server, whole, in an upload of its own.
    QCOMPARE(server.uploadIds().size(), before + files.size() - alreadySent);
    for (const QJsonValue file : run.json[u"files"_s].toArray()) {
        if (alreadySent > 0)
            break;
        const QString relative = file[u"path"_s].toString().mid(root.size() + 1);
        QVERIFY2(server.storedBytes(file[u"upload"_s].toString()) == files.value(relative),
                 qPrintable(relative));
    }
}

void TestUpload::changedInPlace_data()
{
    QTest::addColumn<bool>("caseFolder"); // sent whole once, changed, then sent again; or changed while sent
    QTest::newRow("a package while it is sent") << false;
    QTest::newRow("a case's package after it was sent") << true;
}

// A file changed in place and given its old time back is never taken for the bytes it had: while it
// is sent, the upload fails; in a case sent before, it is sent again, with the SHA-256 of its bytes,
// though the case's SHA256SUMS and the record of what was sent speak of the old ones.
void TestUpload::changedInPlace()
{
    QFETCH(bool, caseFolder);
    TusServer server;
    QVERIFY2(server.startProxy({u"--trickle"_s, caseFolder ? u"100000000"_s : u"1000000"_s}),
             qPrintable(server.error()));
    QTemporaryDir dir;
    const QString root = dir.filePath(u"case-10"_s);
    const QString package = caseFolder ? root + u"/hosts/a/package.zip"_s : dir.filePath(u"package.zip"_s);
    QByteArray bytes = noise(3 << 20);
    QVERIFY(writeFile(package, bytes));
    const QStringList arguments{caseFolder ? root : package, u"--url"_s, server.proxyUrl(), u"--chunk-size"_s,
                                u"1M"_s};
    if (!caseFolder) {
        const auto process = startUpload(arguments);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(package + u".upload"_s), kPatience);
        QVERIFY(changeInPlace(package));
        const Run run = finish(*process);
        QVERIFY2(run.status == 1, qPrintable(run.err));
        QVERIFY2(run.err.contains(u"%1 changed while it was sent; send it again"_s.arg(package)),
                 qPrintable(run.err));
        QVERIFY(server.uploadIds().isEmpty()); // the upload was removed from the server
        return;
    }
    QVERIFY(writeFile(root + u"/index.json"_s, "{}\n"));
    QVERIFY(writeFile(root + u"/SHA256SUMS"_s, sha256Hex(bytes) + "  hosts/a/package.zip\n"));
    const Run first = upload(arguments);
    QVERIFY2(first.status == 0, qPrintable(first.err));
    QVERIFY(changeInPlace(package));
    bytes[bytes.size() - 1] = 'X';
    const Run again = upload(arguments);
    QVERIFY2(again.status == 0, qPrintable(again.err));
    QVERIFY2(!again.err.contains(u"already sent: %1"_s.arg(package)), qPrintable(again.err));
    const QJsonObject sent = again.json[u"files"_s].toArray().first().toObject();
    QCOMPARE(sent[u"path"_s].toString(), package);
    QCOMPARE(sent[u"sha256"_s].toString().toLatin1(), sha256Hex(bytes));
    QVERIFY(server.storedBytes(sent[u"upload"_s].toString()) == bytes);
}

QTEST_GUILESS_MAIN(TestUpload)
#include "tst_upload.moc"
