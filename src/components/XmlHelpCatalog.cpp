#include "components/XmlHelpCatalog.h"

#include "outside/HostFunctions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>

namespace {

class Topic final : public IHelpTopic
{
public:
    Topic(XmlHelpCatalog::Opener opener, QString target)
        : m_opener(std::move(opener)), m_target(std::move(target))
    {}
    bool Open() override { return m_opener && m_opener(m_target); }

private:
    XmlHelpCatalog::Opener m_opener;
    QString m_target;
};

bool isWebAddress(const QString& target)
{
    return target.contains(QLatin1String("://")) || target.startsWith(QLatin1String("mailto:"));
}

} // namespace

bool XmlHelpCatalog::SetIndexFile(const QString& path)
{
    m_indexFile = path;
    return true;
}

bool XmlHelpCatalog::Load()
{
    m_targets.clear();
    const std::optional<QString> host = Host::HostPathForReading(m_indexFile);
    if (!host) {
        m_lastError = QStringLiteral("The help index is missing: ") + m_indexFile;
        return false;
    }
    QFile file(*host);
    if (!file.open(QIODevice::ReadOnly)) {
        m_lastError = QStringLiteral("Cannot read the help index ") + m_indexFile + QStringLiteral(": ") +
                      file.errorString();
        return false;
    }
    m_indexFolder = QFileInfo(*host).absolutePath();
    QXmlStreamReader xml(&file);
    while (xml.readNextStartElement()) {
        if (xml.name() != QLatin1String("HelpIndex")) {
            xml.skipCurrentElement();
            continue;
        }
        while (xml.readNextStartElement()) {
            if (xml.name() == QLatin1String("Topic")) {
                const QString name = xml.attributes().value(QLatin1String("name")).toString();
                if (!m_targets.contains(name))
                    m_targets.insert(name, xml.attributes().value(QLatin1String("target")).toString());
            }
            xml.skipCurrentElement();
        }
    }
    if (xml.hasError()) {
        m_lastError = QStringLiteral("The help index is not readable: ") + xml.errorString();
        m_targets.clear();
        return false;
    }
    return true;
}

std::unique_ptr<IHelpTopic> XmlHelpCatalog::FindTopic(const QString& name)
{
    const auto it = m_targets.constFind(name);
    if (it == m_targets.cend())
        return nullptr;
    const QString target =
        isWebAddress(*it)
            ? *it
            : QDir(m_indexFolder).absoluteFilePath(QString(*it).replace(QLatin1Char('\\'), QLatin1Char('/')));
    return std::make_unique<Topic>(m_opener, target);
}
