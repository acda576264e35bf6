#include "base/ShownText.h"

namespace {

constexpr char16_t kControlPictures = 0x2400; // U+2400 SYMBOL FOR NULL, then one for each C0 control
constexpr char16_t kDeletePicture = 0x2421;

bool harmless(char32_t code)
{
    if (code >= 0x20 && code < 0x7f)
        return true;
    const QChar::Category category = QChar::category(code);
    return QChar::isPrint(code) && category != QChar::Separator_Line &&
           category != QChar::Separator_Paragraph;
}

} // namespace

QString shownText(const QString& text, bool keepLines)
{
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            const char32_t code = QChar::surrogateToUcs4(c, text.at(i + 1));
            if (harmless(code))
                shown.append(text.mid(i, 2));
            else
                shown.append(QChar(QChar::ReplacementCharacter));
            ++i;
            continue;
        }
        const char16_t code = c.unicode();
        if (keepLines && (code == u'\n' || code == u'\t'))
            shown.append(c);
        else if (keepLines &&
                 (code == 0 || (code == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')))
            continue;
        else if (code < 0x20)
            shown.append(QChar(char16_t(kControlPictures + code)));
        else if (code == 0x7f)
            shown.append(QChar(kDeletePicture));
        else if (harmless(code))
            shown.append(c);
        else
            shown.append(QChar(QChar::ReplacementCharacter));
    }
    return shown;
}
