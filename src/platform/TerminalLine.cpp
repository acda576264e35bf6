#include "platform/TerminalLine.h"

#include "base/ShownText.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <vector>

namespace {

const QString kCut = QStringLiteral("...");
constexpr int kCutWidth = 3;
// A name keeps at least this many columns before the rest of the line is cut instead.
constexpr int kNameFloor = 16;

// The columns a character takes: none for a combining mark, two for an East Asian wide or full-width
// character or an emoji, one for the rest.
int cellsOf(char32_t code)
{
    const QChar::Category category = QChar::category(code);
    if (category == QChar::Mark_NonSpacing || category == QChar::Mark_Enclosing)
        return 0;
    const bool wide = (code >= 0x1100 && code <= 0x115f) ||
                      (code >= 0x2e80 && code <= 0xa4cf && code != 0x303f) ||
                      (code >= 0xac00 && code <= 0xd7a3) || (code >= 0xf900 && code <= 0xfaff) ||
                      (code >= 0xfe30 && code <= 0xfe4f) || (code >= 0xff00 && code <= 0xff60) ||
                      (code >= 0xffe0 && code <= 0xffe6) || (code >= 0x1f300 && code <= 0x1f64f) ||
                      (code >= 0x1f900 && code <= 0x1f9ff) || (code >= 0x20000 && code <= 0x3fffd);
    return wide ? 2 : 1;
}

// The text as code points with their columns.
struct Cell
{
    QString text;
    int width;
};

std::vector<Cell> cellsOf(const QString& text)
{
    std::vector<Cell> cells;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool pair =
            text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        const char32_t code =
            pair ? QChar::surrogateToUcs4(text.at(i), text.at(i + 1)) : text.at(i).unicode();
        cells.push_back({text.mid(i, pair ? 2 : 1), cellsOf(code)});
        i += pair ? 1 : 0;
    }
    return cells;
}

int widthOf(const std::vector<Cell>& cells)
{
    int width = 0;
    for (const Cell& cell : cells)
        width += cell.width;
    return width;
}

// The first cells of the text that fit in that many columns.
QString head(const std::vector<Cell>& cells, int columns)
{
    QString text;
    for (const Cell& cell : cells) {
        if (cell.width > columns)
            break;
        columns -= cell.width;
        text += cell.text;
    }
    return text;
}

QString tail(const std::vector<Cell>& cells, int columns)
{
    QString text;
    for (auto cell = cells.rbegin(); cell != cells.rend(); ++cell) {
        if (cell->width > columns)
            break;
        columns -= cell->width;
        text.prepend(cell->text);
    }
    return text;
}

// The text in that many columns at most: whole, or its start and end with "..." between.
QString cutInMiddle(const QString& text, int columns)
{
    const std::vector<Cell> cells = cellsOf(text);
    if (widthOf(cells) <= columns)
        return text;
    if (columns <= kCutWidth)
        return kCut.left(std::max(columns, 0));
    const int kept = columns - kCutWidth;
    return head(cells, kept - kept / 2) + kCut + tail(cells, kept / 2);
}

QString cutAtEnd(const QString& text, int columns)
{
    const std::vector<Cell> cells = cellsOf(text);
    if (widthOf(cells) <= columns)
        return text;
    if (columns <= kCutWidth)
        return kCut.left(std::max(columns, 0));
    return head(cells, columns - kCutWidth) + kCut;
}

winsize sizeOf(std::FILE* stream)
{
    winsize size{};
    const int fd = stream ? ::fileno(stream) : -1;
    if (fd < 0 || ::ioctl(fd, TIOCGWINSZ, &size) != 0)
        return {};
    return size;
}

} // namespace

TerminalLine::TerminalLine(std::FILE* stream, bool terminal, int columns)
    : m_stream(stream), m_terminal(terminal), m_columns(columns)
{}

int TerminalLine::columns() const
{
    if (m_columns > 0)
        return m_columns;
    const winsize size = sizeOf(m_stream);
    return size.ws_col > 1 ? size.ws_col : 80;
}

int TerminalLine::rows() const
{
    const winsize size = sizeOf(m_stream);
    return size.ws_row > 2 ? size.ws_row : 24;
}

QString TerminalLine::fitted(const QString& name, const QString& rest, int columns)
{
    const int room = columns - 1; // the last column would make some terminals wrap
    const QString cleanName = shownText(name);
    const QString cleanRest = shownText(rest);
    const int restWidth = widthOf(cellsOf(cleanRest));
    const int nameRoom =
        std::max(room - restWidth, std::min({kNameFloor, widthOf(cellsOf(cleanName)), room}));
    return cutAtEnd(cutInMiddle(cleanName, nameRoom) + cleanRest, room);
}

void TerminalLine::show(const QString& name, const QString& rest)
{
    if (m_terminal)
        draw(fitted(name, rest, columns()), 1, true);
}

void TerminalLine::showBlock(const QStringList& lines)
{
    if (!m_terminal)
        return;
    const int width = columns();
    QString text;
    for (const QString& line : lines)
        text += fitted({}, line, width) + QLatin1Char('\n');
    draw(text, lines.size(), false);
}

void TerminalLine::clear()
{
    if (m_linesShown == 0)
        return;
    const QByteArray erase = backToStart() + "\x1b[J";
    std::fputs(erase.constData(), m_stream);
    std::fflush(m_stream);
    m_linesShown = 0;
    m_open = false;
    m_shown.clear();
}

void TerminalLine::finish()
{
    if (m_open) {
        std::fputc('\n', m_stream);
        std::fflush(m_stream);
    }
    m_linesShown = 0;
    m_open = false;
    m_shown.clear();
}

// From where the cursor is to the first column of the first line drawn.
QByteArray TerminalLine::backToStart() const
{
    const qsizetype up = m_open ? m_linesShown - 1 : m_linesShown;
    return up > 0 ? "\r\x1b[" + QByteArray::number(up) + 'A' : QByteArray("\r");
}

void TerminalLine::draw(const QString& text, qsizetype lines, bool open)
{
    if (m_linesShown > 0 && text == m_shown && open == m_open)
        return;
    const QByteArray bytes = backToStart() + "\x1b[J" + text.toLocal8Bit();
    std::fputs(bytes.constData(), m_stream);
    std::fflush(m_stream);
    m_linesShown = lines;
    m_open = open;
    m_shown = text;
}
