// Feeds arbitrary bytes to the template reader as a template's text, then asks it every question
// the catalogue asks. Whatever it rejects must come back as a run-time error; anything else (a
// crash, a leak, another exception, a hang) is a fault.
#include "base/RuntimeError.h"
#include "components/TomlTemplateReader.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TomlTemplateReader reader;
    try {
        reader.openText(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)),
                        QStringLiteral("C:\\fuzz.tst6"));
    } catch (const RuntimeError&) {
        return 0; // rejected as it should be: through a run-time error
    }
    (void)(reader.Title().size() + reader.PreProcessBatchFile().size() + reader.AuditLogFile().size() +
           reader.PostProcessBatchFile().size());
    for (int j = 1, n = reader.fieldCount(); j <= n; ++j) {
        const TemplateField f = reader.field(j);
        (void)(f.name.size() + f.kindCode.size() + f.popupFile.size() + f.inputFile.size() +
               f.outputFile.size() + f.helpFile.size());
    }
    reader.LoadViews();
    for (int j = 1, n = reader.viewCount(); j <= n; ++j) {
        const TemplateView v = reader.view(j);
        (void)(v.name.size() + v.number.toString().size());
    }
    reader.Close();
    return 0;
}
