#pragma once

#include <QByteArray>

// JSON text as the program writes it for others to read: every character that could hide or
// reorder what a terminal or an editor shows of a string (a control character, a mark that steers
// the direction of text, an invisible format character or separator) written as \uXXXX (a pair of
// them past U+FFFF). The value is the same to whoever parses it.
QByteArray cleanJson(const QByteArray& json);

// Appends one UTF-16 unit as a JSON escape, \uXXXX.
void appendUnitEscape(QByteArray& out, char16_t unit);
