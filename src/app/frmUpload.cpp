#include "app/frmUpload.h"

#include "base/ByteSize.h"
#include "delivery/FileUpload.h"
#include "delivery/UploadOptions.h"
#include "delivery/UploadRun.h"
#include "desktop/QtDesktop.h"

#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QMutex>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <atomic>

namespace {

constexpr int kRefreshMs = 100;

UploadResult resultOf(const UploadOutcome& outcome, const QString& package)
{
    switch (outcome.end) {
    case UploadOutcome::End::Sent:
        return {UploadResult::End::Sent,
                frmUpload::tr("The package was sent to support:\n%1 (%2)\nSHA-256: %3")
                    .arg(package, byteSizeText(outcome.file.size), QString::fromLatin1(outcome.file.sha256))};
    case UploadOutcome::End::Interrupted:
        return {UploadResult::End::Cancelled,
                frmUpload::tr("The upload of %1 was cancelled. Upload it again to go on where it stopped.")
                    .arg(package)};
    case UploadOutcome::End::Failed:
        break;
    }
    return {UploadResult::End::Failed, frmUpload::tr("The package was not sent: %1").arg(outcome.reason)};
}

// What the sending thread tells the window's timer: the bytes the server holds of the package.
struct SharedProgress final : ProgressSink
{
    void setStatus(const QString&) override {} // the window names its one package itself
    void setBytes(qint64 sent, qint64 size) override
    {
        done = sent;
        total = size;
    }

    std::atomic<qint64> done{0};
    std::atomic<qint64> total{0};
    QMutex mutex;
    QString note; // guarded by mutex
};

} // namespace

frmUpload::frmUpload(QWidget* owner, const QString& packageName)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmUpload"));
    setWindowTitle(tr("Upload Package"));
    setModal(true);
    auto* box = new QVBoxLayout(this);
    m_status = new QLabel(tr("Sending %1 to support...").arg(packageName), this);
    m_status->setObjectName(QStringLiteral("lblStatus"));
    m_status->setWordWrap(true);
    m_status->setMinimumWidth(fontMetrics().averageCharWidth() * 50);
    box->addWidget(m_status);
    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("prgBytes"));
    m_bar->setRange(0, 1000);
    m_bar->setValue(0);
    box->addWidget(m_bar);
    m_bytes = new QLabel(this);
    m_bytes->setObjectName(QStringLiteral("lblBytes"));
    box->addWidget(m_bytes);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    m_cancel = buttons->button(QDialogButtonBox::Cancel);
    m_cancel->setObjectName(QStringLiteral("cmdCancel"));
    connect(buttons, &QDialogButtonBox::rejected, this, &frmUpload::reject);
    box->addWidget(buttons);
    if (owner)
        move(centerOver(owner->frameGeometry(), QRect(QPoint(), sizeHint())));
}

void frmUpload::setBytes(qint64 done, qint64 total, double bytesPerSecond)
{
    m_bar->setValue(total > 0 ? int(done * 1000 / total) : 0);
    QString text = tr("%1 of %2").arg(byteSizeText(done), byteSizeText(total));
    if (bytesPerSecond > 0)
        text += tr(", %1/s").arg(byteSizeText(qint64(bytesPerSecond)));
    m_bytes->setText(text);
}

void frmUpload::setNote(const QString& text)
{
    m_status->setText(text);
}

void frmUpload::reject()
{
    if (m_cancelling)
        return;
    m_cancelling = true;
    m_cancel->setEnabled(false);
    m_status->setText(tr("Cancelling..."));
    Q_EMIT cancelRequested();
}

UploadResult sendPackageWithProgress(QWidget* owner, const PackageUpload& upload)
{
    // The command line's own checks and steps, with the options of File > Options.
    UploadOptions options;
    options.target = upload.package;
    options.url = upload.url;
    options.tokenFile = upload.tokenFile;
    options.caCert = upload.caCert;
    QString error;
    const std::optional<TusConnection> connection =
        uploadConnection(options, qgetenv("TS6_UPLOAD_TOKEN"), &error);
    if (!connection)
        return {UploadResult::End::Failed, frmUpload::tr("The package was not sent: %1").arg(error)};
    std::vector<UploadSource> sources = uploadSources(upload.package, &error);
    if (sources.size() != 1)
        return {UploadResult::End::Failed,
                frmUpload::tr("The package was not sent: %1")
                    .arg(error.isEmpty() ? frmUpload::tr("%1 is a folder").arg(upload.package) : error)};
    StopToken stop; // Cancel or a signal
    TusClient client(*connection, stop);
    frmUpload window(owner, QFileInfo(upload.package).fileName());
    QObject::connect(&window, &frmUpload::cancelRequested, &window, [&stop] { stop.request(); });
    SharedProgress shared;
    UploadOutcome outcome;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        UploadSession session(client, upload.package, std::move(sources), options.chunkBytes);
        session.progress = &shared;
        session.onNote = [&shared](const QString& note) {
            const QMutexLocker lock(&shared.mutex);
            shared.note = note;
        };
        const std::vector<UploadOutcome> outcomes = session.run();
        if (!outcomes.empty())
            outcome = outcomes.back();
    }));
    QElapsedTimer clock;
    qint64 firstDone = -1;
    QTimer refresh;
    QObject::connect(&refresh, &QTimer::timeout, &window, [&] {
        const qint64 done = shared.done;
        if (firstDone < 0 && shared.total > 0) {
            firstDone = done;
            clock.start();
        }
        const double seconds = clock.isValid() ? double(clock.elapsed()) / 1000 : 0;
        window.setBytes(done, shared.total, seconds > 0.5 ? double(done - firstDone) / seconds : 0);
        const QMutexLocker lock(&shared.mutex);
        if (!shared.note.isEmpty() && !window.cancelling())
            window.setNote(std::exchange(shared.note, QString()));
    });
    QObject::connect(worker.get(), &QThread::finished, &window,
                     [&window] { window.done(QDialog::Accepted); });
    refresh.start(kRefreshMs);
    worker->start();
    window.exec();
    worker->wait();
    return resultOf(outcome, upload.package);
}
