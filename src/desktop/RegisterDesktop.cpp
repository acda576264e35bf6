#include "desktop/RegisterDesktop.h"

#include "components/XmlHelpCatalog.h"
#include "outside/Registry.h"

#include <QDesktopServices>
#include <QUrl>

bool openOnDesktop(const QString& urlOrHostPath)
{
    const QUrl url = urlOrHostPath.startsWith(QLatin1Char('/')) ? QUrl::fromLocalFile(urlOrHostPath)
                                                                : QUrl(urlOrHostPath, QUrl::TolerantMode);
    return QDesktopServices::openUrl(url);
}

void registerDesktopComponents()
{
    Registry::registerFactory(QString::fromLatin1(IHelpCatalog::ClassId),
                              [] { return std::make_unique<XmlHelpCatalog>(openOnDesktop); });
}
