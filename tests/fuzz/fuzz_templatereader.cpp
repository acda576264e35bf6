// Feeds arbitrary bytes to the template reader as a template file, then asks it every question
// the catalogue asks. Whatever it rejects must come back as a run-time error; anything else (a
// crash, a leak, another exception, a hang) is a fault.
#include "base/RuntimeError.h"
#include "components/TomlTemplateReader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace {

QString templatePath()
{
    static QTemporaryDir dir;
    static const bool configured = [] {
        qputenv("TS6_DRIVES", ("C=" + dir.path()).toUtf8());
        return true;
    }();
    (void)configured;
    return dir.path() + QStringLiteral("/FUZZ.TST6");
}

void askEverything(TomlTemplateReader& reader)
{
    (void)reader.Title();
    (void)reader.PreProcessBatchFile();
    (void)reader.AuditLogFile();
    (void)reader.PostProcessBatchFile();
    for (int j = 1, n = reader.FieldCount(); j <= n; ++j) {
        const TemplateField f = reader.Field(j);
        (void)(f.name.size() + f.kindCode.size() + f.popupFile.size() + f.inputFile.size() +
               f.outputFile.size() + f.helpFile.size());
    }
    reader.LoadViews();
    for (int j = 1, n = reader.ViewCount(); j <= n; ++j) {
        const TemplateView v = reader.View(j);
        (void)(v.name.size() + v.number.toString().size());
    }
    reader.Close();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString path = templatePath();
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    TomlTemplateReader reader;
    try {
        reader.Open(QVariant(QStringLiteral("C:\\fuzz.tst6")));
    } catch (const RuntimeError&) {
        return 0; // rejected as it should be: through a run-time error
    }
    askEverything(reader);
    return 0;
}
