#pragma once

#include "outside/Component.h"

#include <QVariant>

struct TemplateField
{
    QString name;
    QString kindCode;
    QString popupFile;
    QString inputFile;
    QString outputFile;
    QString helpFile;
};

struct TemplateView
{
    QString name;
    QVariant number; // an integer or a text; its text forms the view file's extension
};

// Opens a template and answers questions about it. Unlike the other components it raises run-time
// errors itself: Open fails on anything that is not a readable template, and every question
// asked of a reader that holds no open template fails too.
class ITemplateReader : public Component
{
public:
    static constexpr char ClassId[] = "Norvale.TemplateReader";

    virtual void Open(const QVariant& path) = 0;
    virtual QString Title() = 0;
    virtual QString PreProcessBatchFile() = 0;
    virtual QString AuditLogFile() = 0;
    virtual QString PostProcessBatchFile() = 0;
    virtual int fieldCount() = 0;
    virtual TemplateField field(int number) = 0; // 1-based
    virtual void LoadViews() = 0;
    virtual int viewCount() = 0;
    virtual TemplateView view(int number) = 0; // 1-based
    virtual void Close() = 0;
};
