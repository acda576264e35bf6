#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>

// The updating progress of a long job on a terminal: one line, or a block of lines, drawn over the
// one shown before. Each line is cleaned first (a name may hold what a terminal would obey: its
// control and bidirectional characters are shown harmless, see shownText) and fitted to the
// terminal's width, one column short of it so that it never wraps: a line that wrapped could not be
// drawn over. On a stream that is not a terminal nothing is drawn.
//
// A single line stays open (the cursor at its end) until clear() erases it or finish() moves below
// it; the job calls one of them before it prints any other line on the same stream. A block ends
// each of its lines, so that it stays on the screen as the job's table once the job is over.
//
// Belongs to the thread that draws; it writes only when asked.
class TerminalLine
{
public:
    // columns: the terminal's width, or 0 to ask the terminal at each drawing (80 when it does not
    // say).
    TerminalLine(std::FILE* stream, bool terminal, int columns = 0);
    TerminalLine(const TerminalLine&) = delete;
    TerminalLine& operator=(const TerminalLine&) = delete;

    bool isTerminal() const { return m_terminal; }

    // Draws "NAME REST": when the line is too wide the name gives way in its middle ("build...
    // 01.zip"), down to a few characters; past that the line is cut at its end.
    void show(const QString& name, const QString& rest = {});
    // Draws the lines, each cut at its end when too wide, in place of what was drawn.
    void showBlock(const QStringList& lines);
    // Erases what is drawn; the cursor goes back to where the drawing began.
    void clear();
    // Leaves an open line as it is and moves below it.
    void finish();

    // The terminal's width and height, 80 by 24 when it does not say.
    int columns() const;
    int rows() const;

    // The line drawn for a name and the rest in that many columns, cleaned and fitted.
    static QString fitted(const QString& name, const QString& rest, int columns);

private:
    void draw(const QString& text, qsizetype lines, bool open);
    QByteArray backToStart() const;

    std::FILE* const m_stream;
    const bool m_terminal;
    const int m_columns;
    qsizetype m_linesShown = 0; // of the last drawing, 0 when cleared or finished
    bool m_open = false;        // the cursor is at the end of the last line drawn
    QString m_shown;            // the last drawing, not drawn again
};
