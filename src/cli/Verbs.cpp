#include "cli/Verbs.h"

#include "cli/CollectCommand.h"
#include "cli/ReadCommand.h"
#include "cli/UploadCommand.h"

namespace {

template <typename Options, const Grammar<Options>& (*grammar)()> VerbText textOf()
{
    return grammar().text;
}

template <typename Options, const Grammar<Options>& (*grammar)()> std::vector<OptionInfo> optionsOf()
{
    return grammar().optionList();
}

} // namespace

const std::vector<VerbEntry>& verbTable()
{
    static const std::vector<VerbEntry> verbs{
        {QStringLiteral("collect"),
         QStringLiteral("build a package on each host over ssh and gather them into one case\n"
                        "folder ('ts6satchel collect --help' says more)"),
         textOf<CollectLine, collectGrammar>, optionsOf<CollectLine, collectGrammar>, collectVerb},
        {QStringLiteral("upload"),
         QStringLiteral("send a package or a case folder to support's upload server; a cut\n"
                        "transfer resumes when run again ('ts6satchel upload --help')"),
         textOf<UploadLine, uploadGrammar>, optionsOf<UploadLine, uploadGrammar>, uploadVerb},
        {QStringLiteral("show"),
         QStringLiteral("what a package or case folder holds, and whether it is intact"),
         textOf<ReadOptions, showGrammar>, optionsOf<ReadOptions, showGrammar>, showVerb},
        {QStringLiteral("open"), QStringLiteral("the same in the viewer window (File > Open Package...)"),
         textOf<ReadOptions, openGrammar>, optionsOf<ReadOptions, openGrammar>, nullptr},
        {QStringLiteral("diff"),
         QStringLiteral("what changed between two packages ('ts6satchel diff --help')"),
         textOf<ReadOptions, diffGrammar>, optionsOf<ReadOptions, diffGrammar>, diffVerb},
    };
    return verbs;
}

const VerbEntry* findVerb(const QString& name)
{
    for (const VerbEntry& verb : verbTable())
        if (verb.name == name)
            return &verb;
    return nullptr;
}
