#pragma once

#include <QString>

// Text read from a package (entry names, comment lines, manifest values, an entry's bytes) as the
// viewer shows it: nothing in it can hide, reorder or break what is around it. A C0 control
// character is shown as its control picture ("␛" for ESC), DEL as "␡", and any other character
// that is not printable (a C1 control, a bidirectional override, a line or paragraph separator, a
// lone surrogate, an unassigned code point) as U+FFFD. With lines kept (an entry's text), tab and
// line feed stay, CR LF becomes a line feed and NUL padding is left out.
QString shownText(const QString& text, bool keepLines = false);
