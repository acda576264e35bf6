#include "components/zip/FileChoice.h"

#include <algorithm>

std::vector<Source> chooseNewestFirst(std::vector<Source> files, const AddRules& rules)
{
    const auto split = std::stable_partition(files.begin(), files.end(),
                                             [](const Source& file) { return !file.skipReason.isEmpty(); });
    std::stable_sort(split, files.end(),
                     [](const Source& a, const Source& b) { return a.modified > b.modified; });
    std::vector<Source> chosen(std::make_move_iterator(files.begin()), std::make_move_iterator(split));
    std::vector<Source> leftOut;
    qint64 total = 0;
    bool full = false;
    for (auto file = split; file != files.end(); ++file) {
        if (rules.notBefore && file->modified < *rules.notBefore) {
            file->skipReason = rules.tooOld;
        } else if (full || (rules.budget && total + file->size > *rules.budget)) {
            full = true;
            file->skipReason = rules.overBudget;
        } else {
            total += file->size;
            chosen.push_back(std::move(*file));
            continue;
        }
        file->onPurpose = true;
        leftOut.push_back(std::move(*file));
    }
    chosen.insert(chosen.end(), std::make_move_iterator(leftOut.begin()),
                  std::make_move_iterator(leftOut.end()));
    return chosen;
}
