#include "components/zip/ZipWriter.h"

#include "base/PackageFormat.h"
#include "platform/FileReplacement.h"

#include "base/Logging.h"

#include "base/CHandle.h"
#include "base/RuntimeError.h"
#include "base/SystemError.h"
#include "components/zip/ArchiveFile.h"
#include "components/zip/EntryPipeline.h"
#include "components/zip/FileChoice.h"
#include "components/zip/SourceCollector.h"
#include "masking/SecretMask.h"
#include "masking/TextMasker.h"
#include "outside/Interruption.h"
#include "platform/Descriptors.h"
#include "platform/HostName.h"
#include "platform/HostPath.h"

#include <QRandomGenerator>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::chrono::milliseconds kHookInterval(50);

// Reads up to 1 MB of a file an add names or finds and learns the names it defines.
void learnNames(const Source& file, const std::shared_ptr<NameMap>& names)
{
    constexpr size_t kMostRead = 1'000'000;
    const UniqueFd found = file.named()
                               ? UniqueFd()
                               : Descriptors::openBeneath(file.folder->root->get(), file.relativePath(),
                                                          O_RDONLY | O_NONBLOCK | O_NOCTTY);
    const int fd = file.named() ? file.opened->get() : found.get();
    struct stat st
    {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return;
    Bytes text(std::min<size_t>(static_cast<size_t>(st.st_size), kMostRead));
    const ssize_t got = ::pread(fd, text.data(), text.size(), 0);
    if (got <= 0)
        return;
    TextMasker reader(names);
    Bytes ignored;
    if (detectEncoding(text.data(), static_cast<size_t>(got)) != TextEncoding::Binary)
        reader.feed(text.data(), static_cast<size_t>(got), true, ignored);
}

} // namespace

// The package being written. The pipeline is declared last, so it is dropped first: its workers
// stop before the archive file and the guard go.
struct ZipWriter::Package
{
    Package(const QString& hostPath, const PackageOutputs& outputs, int workers,
            const std::function<void()>& tick)
        : archive(hostPath), guard(archive.identity(), outputPaths(hostPath, outputs)),
          collector(guard, tick), pipeline(archive, guard, EntryPipeline::workers(workers), tick),
          digest(outputs.digest)
    {}
    static std::vector<std::pair<OutputGuard::Output, QByteArray>> outputPaths(const QString& hostPath,
                                                                               const PackageOutputs& outputs)
    {
        std::vector<std::pair<OutputGuard::Output, QByteArray>> paths{
            {OutputGuard::Output::Package, HostName::encode(hostPath)}};
        for (const QString& beside : outputs.besides)
            paths.emplace_back(OutputGuard::Output::Checksum, HostName::encode(beside));
        if (!outputs.namesFile.isEmpty())
            paths.emplace_back(OutputGuard::Output::Names, HostName::encode(outputs.namesFile));
        return paths;
    }
    // The names of the package and their placeholders, made at the first add that asks for them,
    // with the computer's and the user's names known from the start.
    std::shared_ptr<NameMap> namesMap(const PackageOutputs& outputs)
    {
        if (!names) {
            names = std::make_shared<NameMap>();
            for (const QString& host : outputs.knownHosts)
                names->placeholderOf(NameMap::Kind::Host, host.toUtf8(), true);
            for (const QString& user : outputs.knownUsers)
                names->placeholderOf(NameMap::Kind::User, user.toUtf8(), true);
        }
        return names;
    }
    ~Package()
    {
        if (!mapFile.isEmpty()) // written, but the package did not take its name
            ::unlink(mapFile.constData());
    }
    ArchiveFile archive;
    OutputGuard guard;
    SourceCollector collector;
    EntryPipeline pipeline;
    bool digest = false;
    bool masking = false; // an add masked secrets: REDACTED.TXT tells what
    std::shared_ptr<NameMap> names;
    QByteArray mapFile; // the map of names beside the package, until the package has its name
};

ZipWriter::ZipWriter(int workers) : m_workers(workers) {}

ZipWriter::~ZipWriter() = default;

void ZipWriter::tick()
{
    Interruption::check();
    const auto now = std::chrono::steady_clock::now();
    if (m_busyHook && now - m_lastHook >= kHookInterval) {
        m_lastHook = now;
        m_busyHook();
    }
}

// Runs one operation of the writer. A failure drops the package (nothing is left on disk) and
// becomes lastError; a stop signal, and anything the busy hook raises, goes on to the caller.
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

bool ZipWriter::setArchivePath(const QString& path)
{
    m_package.reset();
    m_report = {};
    HostPath::Miss miss = HostPath::Miss::NotFound;
    const std::optional<QString> host = HostPath::forReplacing(path, &miss);
    if (!host) {
        m_lastError =
            miss == HostPath::Miss::NotFound
                ? QStringLiteral("The folder of the package does not exist: ") + path
                : QStringLiteral("Cannot create the package %1: %2").arg(path, HostPath::missReason(miss));
        return false;
    }
    if (path.endsWith(QLatin1Char('\\')) || path.endsWith(QLatin1Char('/'))) {
        m_lastError = QStringLiteral("The package path names a folder, not a file: ") + path;
        return false;
    }
    if (HostName::isDirectory(*host)) {
        m_lastError = QStringLiteral("The package path is a folder: ") + path;
        return false;
    }
    // The finished package takes the place of what stands at its path: a named pipe, a device or
    // a socket there is never replaced.
    if (HostName::isOtherThanRegularFile(*host)) {
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

bool ZipWriter::add(const QString& source, bool includeSubfolders, bool keepFolderPath, const QString&)
{
    if (!m_package) {
        m_lastError = QStringLiteral("No package is open");
        return false;
    }
    return asStatus([&] {
        Package& package = *m_package;
        const bool choosing = m_rules.notBefore || m_rules.budget;
        package.masking = package.masking || m_rules.masking != AddRules::Masking::None;
        const std::shared_ptr<NameMap> names = m_rules.names ? package.namesMap(m_outputs) : nullptr;
        std::vector<Source> all; // to choose from, once the add has found them all
        const auto take = [&](std::vector<Source>&& files) {
            for (Source& file : files) {
                file.mask = m_rules.masking == AddRules::Masking::Everything || names;
                file.names = names;
            }
            if (!choosing)
                return package.pipeline.add(files);
            all.insert(all.end(), std::make_move_iterator(files.begin()),
                       std::make_move_iterator(files.end()));
        };
        package.collector.collect(source, includeSubfolders, keepFolderPath, take);
        if (choosing)
            package.pipeline.add(chooseNewestFirst(std::move(all), m_rules));
        package.pipeline.endAdd();
    });
}

bool ZipWriter::discoverNames(const QString& source)
{
    if (!m_package) {
        m_lastError = QStringLiteral("No package is open");
        return false;
    }
    return asStatus([&] {
        const std::shared_ptr<NameMap> names = m_package->namesMap(m_outputs);
        m_package->collector.collect(source, false, false, [&](std::vector<Source>&& files) {
            for (const Source& file : files)
                if (file.skipReason.isEmpty())
                    learnNames(file, names);
        });
    });
}

QByteArray ZipWriter::redactedText(int checked, const std::vector<PackageReport::Masked>& masked,
                                   const QStringList& notChecked, bool names)
{
    QByteArray text =
        QByteArray("TS6Satchel masked the secrets in the text files of this package: each value "
                   "became ") +
        PackageFormat::kMask +
        QByteArray(names ? ", and each host name, user name and address a placeholder (host-1, "
                           "user-1, ip-1; the map stays with the sender)"
                         : "") +
        ".\r\n";
    int values = 0;
    int replaced = 0;
    for (const PackageReport::Masked& file : masked) {
        values += file.values;
        replaced += file.names;
    }
    text += "Files checked: " + QByteArray::number(checked) + ". ";
    if (checked == 0)
        text += "No file could be read as text, so none was searched.\r\n";
    else if (masked.empty())
        text += QByteArray(names ? "No secrets and no names were found.\r\n" : "No secrets were found.\r\n");
    else
        text += "Values masked: " + QByteArray::number(values) +
                (names ? "; names replaced: " + QByteArray::number(replaced) : QByteArray()) + "; in " +
                QByteArray::number(masked.size()) + (masked.size() == 1 ? " file:\r\n" : " files:\r\n");
    if (names && !masked.empty())
        text += " values  names  entry\r\n";
    for (const PackageReport::Masked& file : masked) {
        text += QByteArray::number(file.values).rightJustified(7);
        if (names)
            text += QByteArray::number(file.names).rightJustified(7);
        text += "  " + file.entry.toUtf8();
        if (!file.encoding.isEmpty())
            text += " (" + file.encoding.toUtf8() + ')';
        text += "\r\n";
    }
    if (!notChecked.isEmpty()) {
        text += "Files not checked, packed as they are (not text): " + QByteArray::number(notChecked.size()) +
                "\r\n";
        for (const QString& entry : notChecked)
            text += "         " + entry.toUtf8() + "\r\n";
    }
    return text;
}

bool ZipWriter::finish()
{
    if (!m_package) {
        m_lastError = QStringLiteral("No package is open");
        return false;
    }
    return asStatus([&] {
        EntryPipeline& pipeline = m_package->pipeline;
        pipeline.finish();
        Package& package = *m_package;
        if (package.masking)
            pipeline.addText(QString::fromLatin1(PackageFormat::kMaskingReportName),
                             redactedText(pipeline.checked(), pipeline.masked(), pipeline.notChecked(),
                                          package.names != nullptr));
        // The map of names goes beside the package just before the package takes its name: one is
        // never there without the other.
        const QByteArray sha256 = package.archive.complete(pipeline.commentLines(), package.digest, [&] {
            if (package.names && !m_outputs.namesFile.isEmpty())
                package.mapFile = writeNamesFile(m_outputs.namesFile, package.names->mapText());
        });
        const QString namesFile =
            package.mapFile.isEmpty() ? QString() : HostName::decode(package.mapFile.constData());
        package.mapFile.clear(); // the package has its name: the map stays
        m_bytesDone = pipeline.bytesDone();
        qCDebug(lcZip) << "package complete:" << package.archive.entries() << "entries," << m_bytesDone.first
                       << "bytes read, SHA-256" << sha256;
        m_report = {static_cast<qint64>(m_package->archive.entries()), pipeline.leftOut(), pipeline.masked(),
                    sha256, namesFile};
        m_package.reset();
    });
}

QByteArray ZipWriter::writeNamesFile(const QString& hostPath, const QByteArray& map)
{
    const QByteArray target = HostName::encode(hostPath);
    const auto fail = [&](const QString& reason) {
        raiseError(ErrorNumber::DeviceIoError,
                   QStringLiteral("Cannot write the map of names %1: %2").arg(hostPath, reason));
    };
    if (HostName::isOtherThanRegularFile(hostPath))
        fail(QStringLiteral("not a regular file"));
    if (const int error = replaceFile(target, map, 0600); error != 0)
        fail(errnoText(error));
    return target;
}

std::pair<qint64, qint64> ZipWriter::bytesDone() const
{
    return m_package ? m_package->pipeline.bytesDone() : m_bytesDone;
}
