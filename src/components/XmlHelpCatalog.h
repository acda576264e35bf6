#pragma once

#include "outside/IHelpCatalog.h"

#include <QHash>

#include <functional>

class QXmlStreamReader;

// The product's help index, "TS6SatchelHelp.xml":
//   <HelpIndex><Topic name="Video Tutorials" target="https://..."/></HelpIndex>
// A target is a web address or a file path relative to the index (host or Windows-style, found
// case-blind); a topic opens it through the opener it was given (the desktop, in the program).
// The reasons for a failure name the index by its host path: they are shown to a person.
class XmlHelpCatalog final : public IHelpCatalog
{
public:
    using Opener = std::function<bool(const QString& urlOrHostPath)>;
    explicit XmlHelpCatalog(Opener opener) : m_opener(std::move(opener)) {}

    bool setIndexFile(const QString& path) override;
    std::unique_ptr<IHelpTopic> findTopic(const QString& name) override;
    bool load() override;
    QString lastError() const override { return m_lastError; }

private:
    void readTopics(QXmlStreamReader& xml);
    QString targetOnHost(const QString& target) const;

    Opener m_opener;
    QString m_indexFile;
    QHash<QString, QString> m_targets;
    QString m_lastError;
};
