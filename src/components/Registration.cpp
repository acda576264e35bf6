#include "components/Registration.h"

#include "components/EnvProductInfo.h"
#include "components/IniSettingsStore.h"
#include "components/PathUtility.h"
#include "components/SpdLogSink.h"
#include "components/TomlTemplateReader.h"
#include "components/zip/ZipWriter.h"
#include "outside/Registry.h"

namespace {

template <typename Implementation> void registerAs(const char* classId)
{
    Registry::registerFactory(QString::fromLatin1(classId),
                              [] { return std::make_unique<Implementation>(); });
}

} // namespace

void registerCoreComponents()
{
    registerAs<SpdLogSink>(ILogSink::ClassId);
    registerAs<IniSettingsStore>(ISettingsStore::ClassId);
    registerAs<EnvProductInfo>(IProductInfo::ClassId);
    registerAs<PathUtility>(IPathUtility::ClassId);
    registerAs<TomlTemplateReader>(ITemplateReader::ClassId);
    registerAs<ZipWriter>(IZipWriter::ClassId);
}
