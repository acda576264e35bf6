#pragma once

#include "outside/IHelpCatalog.h"

#include <QHash>

#include <functional>

// The product's help index, "TS6SatchelHelp.xml":
//   <HelpIndex><Topic name="Video Tutorials" target="https://..."/></HelpIndex>
// A target is a web address or a file path relative to the index; a topic opens it through the
// opener it was given (the desktop, in the program).
class XmlHelpCatalog final : public IHelpCatalog
{
public:
    using Opener = std::function<bool(const QString& urlOrHostPath)>;
    explicit XmlHelpCatalog(Opener opener) : m_opener(std::move(opener)) {}

    bool SetIndexFile(const QString& path) override;
    std::unique_ptr<IHelpTopic> FindTopic(const QString& name) override;
    bool Load() override;
    QString LastError() const override { return m_lastError; }

private:
    Opener m_opener;
    QString m_indexFile;
    QString m_indexFolder; // host folder of the index, for relative targets
    QHash<QString, QString> m_targets;
    QString m_lastError;
};
