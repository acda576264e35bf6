#pragma once

#include "outside/ITemplateReader.h"

#include <optional>
#include <vector>

// Reads templates written in TOML: a [Template] table with the title and the batch and log file
// names, then [[Field]] and [[View]] tables in file order. Open reads the whole template at once,
// so every later question is answered from memory and asks the file system nothing.
class TomlTemplateReader final : public ITemplateReader
{
public:
    void Open(const QVariant& path) override;
    QString Title() override;
    QString PreProcessBatchFile() override;
    QString AuditLogFile() override;
    QString PostProcessBatchFile() override;
    int fieldCount() override;
    TemplateField field(int number) override;
    void LoadViews() override;
    int viewCount() override;
    TemplateView view(int number) override;
    void Close() override;

    // Parses template text; raises the run-time error that Open raises for it.
    void openText(const QByteArray& text, const QString& sourceName);

    // The largest template Open accepts.
    static constexpr qint64 kMaxBytes = 16 * 1024 * 1024;

private:
    struct Content
    {
        QString title;
        QString preProcess;
        QString auditLog;
        QString postProcess;
        std::vector<TemplateField> fields;
        std::vector<TemplateView> views;
    };

    const Content& open() const;

    std::optional<Content> m_content;
};
