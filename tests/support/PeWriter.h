#pragma once

#include <QByteArray>
#include <QString>

// A minimal Windows program file (PE32, one ".rsrc" section) whose version resource carries
// the given file version, as the product's TS6.EXE has one.
QByteArray makeVersionedProgram(quint16 major, quint16 minor, quint16 build, quint16 revision);
// The same file without any resources.
QByteArray makeProgramWithoutVersion();
