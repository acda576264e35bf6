#pragma once

#include "outside/ITemplateReader.h"

#include <QList>
#include <QString>
#include <QVariant>

class OutlineGrid;

// A template's header, fields and views, as the reader gives them back; a test names only what it
// sets, the rest stays empty.
struct TemplateSpec
{
    QString title{};
    QString preProcess{};
    QString auditLog{};
    QString postProcess{};
    QList<TemplateField> fields{};
    QList<TemplateView> views{};
};

// The template as a TOML document, Windows paths in literal strings.
QByteArray templateToml(const TemplateSpec& content);

// One line per grid row: "level|text|key|column 1|column 2|picture" plus "|collapsed" for a
// collapsed node; the header row is left out.
QStringList gridDump(const OutlineGrid& grid);
