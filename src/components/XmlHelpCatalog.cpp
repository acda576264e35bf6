#include "components/XmlHelpCatalog.h"

#include "outside/HostFunctions.h"
#include "platform/HostPath.h"

#include <QCoreApplication>
#include <QFile>
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

QString tr(const char* text)
{
    return QCoreApplication::translate("XmlHelpCatalog", text);
}

} // namespace

bool XmlHelpCatalog::setIndexFile(const QString& path)
{
    m_indexFile = path;
    return true;
}

bool XmlHelpCatalog::load()
{
    m_targets.clear();
    const QString shown = HostPath::toHost(m_indexFile); // what a person reads in the message
    const std::optional<QString> host = Host::hostPathForReading(m_indexFile);
    if (!host) {
        m_lastError = tr("The help index is missing: %1").arg(shown);
        return false;
    }
    QFile file(*host);
    if (!file.open(QIODevice::ReadOnly)) {
        m_lastError = tr("Cannot read the help index %1: %2").arg(shown, file.errorString());
        return false;
    }
    QXmlStreamReader xml(&file);
    if (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("HelpIndex"))
            readTopics(xml);
        else
            xml.raiseError(tr("the document is not a HelpIndex"));
    }
    // The root element is the whole index; what follows it must still be well-formed.
    while (!xml.atEnd())
        xml.readNext();
    if (xml.hasError()) {
        m_lastError = tr("The help index %1 is not readable: %2 (line %3)")
                          .arg(shown, xml.errorString())
                          .arg(xml.lineNumber());
        m_targets.clear();
        return false;
    }
    return true;
}

void XmlHelpCatalog::readTopics(QXmlStreamReader& xml)
{
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("Topic")) {
            const QString name = xml.attributes().value(QLatin1String("name")).toString();
            if (!m_targets.contains(name))
                m_targets.insert(name, xml.attributes().value(QLatin1String("target")).toString());
        }
        xml.skipCurrentElement();
    }
}

QString XmlHelpCatalog::targetOnHost(const QString& target) const
{
    if (isWebAddress(target) || target.startsWith(QLatin1Char('/')))
        return target;
    if (HostPath::isWindowsStyle(target))
        return HostPath::toHost(target);
    // Relative to the index's folder, looked up case-blind like every other path.
    const qsizetype cut = m_indexFile.lastIndexOf(QLatin1Char('\\'));
    return HostPath::toHost(m_indexFile.left(cut + 1) + target);
}

std::unique_ptr<IHelpTopic> XmlHelpCatalog::findTopic(const QString& name)
{
    const auto it = m_targets.constFind(name);
    if (it == m_targets.cend())
        return nullptr;
    const QString target = targetOnHost(*it);
    // The reason to give should the desktop have no program to open the topic with.
    m_lastError = tr("No program could open %1").arg(target);
    return std::make_unique<Topic>(m_opener, target);
}
