#pragma once

#include "cli/OptionTable.h"

#include <vector>

// One verb of the program: its name, its line in the program's help, its help's texts and options,
// and what runs it. open has no run here: it shows a window, which main() makes.
struct VerbEntry
{
    QString name;
    QString summary;
    VerbText (*text)();
    std::vector<OptionInfo> (*options)();
    int (*run)(const QStringList& arguments);
};

// Every verb, in the order the program's help lists them.
const std::vector<VerbEntry>& verbTable();

// The verb a first argument names; null for none (a batch start or the window).
const VerbEntry* findVerb(const QString& name);
