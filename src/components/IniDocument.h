#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

// The sections, keys and texts of an INI file, in the dialect the product's settings files have
// always been written in: "[Section]" headers, "key=value" lines, comments that start with ";"
// or "#", values in double quotes where they need them, and backslash escapes ("\\", "\"", "\n",
// "\t", "\x" with hex digits, octal digits). Keys and section names escape "/" as "\" and other
// characters as "%XX" or "%UXXXX". The section "General" of the file holds the keys outside every
// section (section name ""); a section of that name is written "[%General]".
//
// Every text survives a write and a read exactly, also the characters U+DC80..U+DCFF that stand
// for host-name bytes that are not UTF-8: they are written as "\x" escapes, never as raw bytes.
// Sections and keys keep the order of the file; new ones go after them.
class IniDocument
{
public:
    // Reads a file's text line by line. A line that is not understood is left out: one without
    // "=", one that holds control characters (NUL, binary bytes) or bytes that are not UTF-8,
    // and every line of a section whose header has no "]". A signal that asks the program to
    // stop ends a long read with the run-time error of Interruption::check.
    static IniDocument parse(QByteArrayView text);
    // The whole file: every section that holds a key, keys as "key=value" lines.
    QByteArray toText() const;

    bool hasSection(const QString& section) const;
    std::optional<QString> value(const QString& section, const QString& key) const;
    void setValue(const QString& section, const QString& key, const QString& value);

private:
    struct Entry
    {
        QString key;
        QString value;
    };
    struct Section
    {
        QString name;
        QList<Entry> entries;
        QHash<QString, qsizetype> index; // key to its place in entries
    };

    Section& sectionNamed(const QString& name);

    QList<Section> m_sections;
    QHash<QString, qsizetype> m_index; // name to its place in m_sections
};
