#pragma once

#include <QList>
#include <QString>
#include <QVariant>

class OutlineGrid;

struct FieldSpec
{
    QString name;
    QString kindCode;
    QString popupFile;
    QString inputFile;
    QString outputFile;
    QString helpFile;
};

struct ViewSpec
{
    QString name;
    QVariant number; // an integer or a text
};

struct TemplateSpec
{
    QString title;
    QString preProcess;
    QString auditLog;
    QString postProcess;
    QList<FieldSpec> fields;
    QList<ViewSpec> views;
};

// The template as a TOML document, Windows paths in literal strings.
QByteArray TemplateToml(const TemplateSpec& content);

// One line per grid row: "level|text|key|column 1|column 2|picture" plus "|collapsed" for a
// collapsed node; the header row is left out.
QStringList GridDump(const OutlineGrid& grid);
