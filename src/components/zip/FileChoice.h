#pragma once

#include "components/zip/SourceCollector.h"
#include "outside/IZipWriter.h"

#include <vector>

// The files of an add chosen by age and size (AddRules::notBefore, AddRules::budget): newest first
// by modification time (in listing order among equals), those changed before notBefore left out,
// then the rest until their total would pass the budget, where the choice stops: that file and
// every older one are left out. What is left out comes back with its reason, after the files
// chosen and in the same order; files already left out for another reason come first.
std::vector<Source> chooseNewestFirst(std::vector<Source> files, const AddRules& rules);
