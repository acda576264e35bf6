#include "components/zip/ZipWriter.h"

#include "base/RuntimeError.h"
#include "components/zip/ArchiveFile.h"
#include "components/zip/EntryPipeline.h"
#include "components/zip/FileChoice.h"
#include "components/zip/SecretMask.h"
#include "components/zip/SourceCollector.h"
#include "outside/Interruption.h"
#include "platform/HostName.h"
#include "platform/HostPath.h"

#include <chrono>

namespace {

constexpr std::chrono::milliseconds kHookInterval(50);

// Whether an add under these rules masks the secrets of a file of that name (when it is text).
bool masks(AddRules::Masking masking, const QString& name)
{
    return masking == AddRules::Masking::Everything ||
           (masking == AddRules::Masking::ByExtension && SecretMask::IsTextFileName(name));
}

} // namespace

// The package being written. The pipeline is declared last, so it is dropped first: its workers
// stop before the archive file and the guard go.
struct ZipWriter::Package
{
    Package(const QString& hostPath, const PackageOutputs& outputs, int workers,
            const std::function<void()>& tick)
        : archive(hostPath), guard(archive.Identity(), outputPaths(hostPath, outputs)),
          collector(guard, tick), pipeline(archive, guard, EntryPipeline::Workers(workers), tick),
          digest(outputs.digest)
    {}
    static std::vector<QByteArray> outputPaths(const QString& hostPath, const PackageOutputs& outputs)
    {
        std::vector<QByteArray> paths{HostName::Encode(hostPath)};
        for (const QString& beside : outputs.besides)
            paths.push_back(HostName::Encode(beside));
        return paths;
    }
    ArchiveFile archive;
    OutputGuard guard;
    SourceCollector collector;
    EntryPipeline pipeline;
    bool digest = false;
    bool masking = false; // an add masked secrets: REDACTED.TXT tells what
};

ZipWriter::ZipWriter(int workers) : m_workers(workers) {}

ZipWriter::~ZipWriter() = default;

void ZipWriter::tick()
{
    Interruption::Check();
    const auto now = std::chrono::steady_clock::now();
    if (m_busyHook && now - m_lastHook >= kHookInterval) {
        m_lastHook = now;
        m_busyHook();
    }
}

// Runs one operation of the writer. A failure drops the package (nothing is left on disk) and
// becomes LastError; a stop signal, and anything the busy hook raises, goes on to the caller.
template <typename Work> bool ZipWriter::asStatus(Work&& work)
{
    try {
        std::forward<Work>(work)();
        return true;
    } catch (const RuntimeError& e) {
        m_package.reset();
        if (e.number() == ErrorNumber::Interrupted)
            throw;
        m_lastError = e.description();
    } catch (const std::bad_alloc&) {
        m_package.reset();
        m_lastError = QStringLiteral("Out of memory");
    } catch (const std::exception& e) {
        m_package.reset();
        m_lastError = QString::fromLocal8Bit(e.what());
    }
    return false;
}

bool ZipWriter::SetArchivePath(const QString& path)
{
    m_package.reset();
    m_report = {};
    HostPath::Miss miss = HostPath::Miss::NotFound;
    const std::optional<QString> host = HostPath::ForReplacing(path, &miss);
    if (!host) {
        m_lastError =
            miss == HostPath::Miss::NotFound
                ? QStringLiteral("The folder of the package does not exist: ") + path
                : QStringLiteral("Cannot create the package %1: %2").arg(path, HostPath::MissReason(miss));
        return false;
    }
    if (path.endsWith(QLatin1Char('\\')) || path.endsWith(QLatin1Char('/'))) {
        m_lastError = QStringLiteral("The package path names a folder, not a file: ") + path;
        return false;
    }
    if (HostName::IsDirectory(*host)) {
        m_lastError = QStringLiteral("The package path is a folder: ") + path;
        return false;
    }
    // The finished package takes the place of what stands at its path: a named pipe, a device or
    // a socket there is never replaced.
    if (HostName::IsOtherThanRegularFile(*host)) {
        m_lastError = QStringLiteral("The package path is not a regular file: ") + path;
        return false;
    }
    try {
        m_package = std::make_unique<Package>(*host, m_outputs, m_workers, [this] { tick(); });
        return true;
    } catch (const RuntimeError& e) {
        m_lastError =
            QStringLiteral("Cannot create the package ") + path + QStringLiteral(": ") + e.description();
    } catch (const std::exception& e) {
        m_lastError = QStringLiteral("Cannot create the package ") + path + QStringLiteral(": ") +
                      QString::fromLocal8Bit(e.what());
    }
    return false;
}

bool ZipWriter::Add(const QString& source, bool includeSubfolders, bool keepFolderPath, const QString&)
{
    if (!m_package) {
        m_lastError = QStringLiteral("No package is open");
        return false;
    }
    return asStatus([&] {
        Package& package = *m_package;
        const bool choosing = m_rules.notBefore || m_rules.budget;
        package.masking = package.masking || m_rules.masking != AddRules::Masking::None;
        std::vector<Source> all; // to choose from, once the add has found them all
        const auto take = [&](std::vector<Source>&& files) {
            for (Source& file : files)
                file.mask = masks(m_rules.masking, file.name);
            if (!choosing)
                return package.pipeline.Add(files);
            all.insert(all.end(), std::make_move_iterator(files.begin()),
                       std::make_move_iterator(files.end()));
        };
        package.collector.Collect(source, includeSubfolders, keepFolderPath, take);
        if (choosing)
            package.pipeline.Add(ChooseNewestFirst(std::move(all), m_rules));
        package.pipeline.EndAdd();
    });
}

QByteArray ZipWriter::RedactedText(int checked, const std::vector<PackageReport::Masked>& masked)
{
    QByteArray text = "TS6Satchel masked the secrets in the configuration and log files of this package: "
                      "each value became ********.\r\n";
    int values = 0;
    for (const PackageReport::Masked& file : masked)
        values += file.values;
    text += "Files checked: " + QByteArray::number(checked) + ". ";
    if (masked.empty())
        return text + "No secrets were found.\r\n";
    text += "Values masked: " + QByteArray::number(values) + ", in " + QByteArray::number(masked.size()) +
            (masked.size() == 1 ? " file:\r\n" : " files:\r\n");
    for (const PackageReport::Masked& file : masked)
        text += QByteArray::number(file.values).rightJustified(7) + "  " + file.entry.toUtf8() + "\r\n";
    return text;
}

bool ZipWriter::Finish()
{
    if (!m_package) {
        m_lastError = QStringLiteral("No package is open");
        return false;
    }
    return asStatus([&] {
        EntryPipeline& pipeline = m_package->pipeline;
        pipeline.Finish();
        if (m_package->masking)
            pipeline.AddText(QStringLiteral("REDACTED.TXT"),
                             RedactedText(pipeline.Checked(), pipeline.Masked()));
        const QByteArray sha256 = m_package->archive.Complete(pipeline.CommentLines(), m_package->digest);
        m_bytesDone = pipeline.BytesDone();
        m_report = {static_cast<qint64>(m_package->archive.Entries()), pipeline.LeftOut(), pipeline.Masked(),
                    sha256};
        m_package.reset();
    });
}

std::pair<qint64, qint64> ZipWriter::BytesDone() const
{
    return m_package ? m_package->pipeline.BytesDone() : m_bytesDone;
}
