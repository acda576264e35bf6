#pragma once

#include "cli/VerbCommand.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

// One option of a verb as its help, the manual page and the completion name it: its names (one
// letter for "-x", more for "--name"), the name of its value (empty for a switch) and its help.
struct OptionInfo
{
    QStringList names;
    QString valueName{};
    QString help{};

    bool takesValue() const { return !valueName.isEmpty(); }
    // "-h, --help" or "--since DATE".
    QString spelled() const;
    // "--since": the long name, or the short one when there is no long one.
    QString longName() const;
};

// What a verb's help says besides its options: the verb ("" for the batch start), the usage lines
// (each after "ts6satchel "), the text before the options and the text after them.
struct VerbText
{
    QString verb;
    QStringList usage;
    QString about;
    QString epilogue;
    bool takesVersion = false; // -V, --version: the batch start's alone
};

// One argument as the parser read it: an option of the table (its index, and its value), or an
// operand (index -1), with whether it came after "--".
struct ArgumentItem
{
    int option = -1;
    QString value{};
    bool afterDashes = false;
};

// The program's one reading of a command line. Options begin with "-" and may stand anywhere:
// "--name value" or "--name=value", "-x value" or "-xvalue", switches of one letter together
// ("-hV"). "--" ends the options, so an operand may begin with "-"; "-" alone is an operand.
// -h/--help and, where the verb takes it, -V/--version end the reading at once. The reason in why
// when the line cannot be read: an unknown option, a missing value, a value given to a switch.
enum class LineEnd
{
    Read,
    Help,
    Version,
};
std::optional<LineEnd> splitArguments(const std::vector<OptionInfo>& options, bool takesVersion,
                                      const QStringList& arguments, std::vector<ArgumentItem>* items,
                                      QString* why);

// The help of -h/--help and of -V/--version, which every verb's help lists.
OptionInfo helpOption();
OptionInfo versionOption();

// A verb's options with the operands its line's checks take once the whole line is read (collect's
// targets after "--", upload's packages), so that too many or too few are told as such.
template <typename Options> struct WithOperands
{
    Options options;
    QStringList operands{};
};

// A verb's grammar: its options, each with what it sets (false and the reason in why when the value
// cannot be taken); what an operand sets; and the checks of the whole line once it is read.
template <typename Options> struct OptionRow
{
    OptionInfo option;
    std::function<bool(Options&, const QString& value, QString* why)> apply;
};

template <typename Options> struct Grammar
{
    VerbText text;
    std::vector<OptionRow<Options>> rows;
    std::function<bool(Options&, const QString& operand, bool afterDashes, QString* why)> operand;
    // Called with the long names of the options given, in order.
    std::function<bool(Options&, const QStringList& given, QString* why)> finish{};

    std::vector<OptionInfo> optionList() const
    {
        std::vector<OptionInfo> options;
        options.reserve(rows.size());
        for (const OptionRow<Options>& row : rows)
            options.push_back(row.option);
        return options;
    }
};

// Reads a verb's command line through its grammar: each option and operand applied in the order
// given, then the line's checks.
template <typename Options>
VerbCommand<Options> parseCommand(const Grammar<Options>& grammar, const QStringList& arguments)
{
    using Command = VerbCommand<Options>;
    std::vector<ArgumentItem> items;
    QString why;
    const std::optional<LineEnd> end =
        splitArguments(grammar.optionList(), grammar.text.takesVersion, arguments, &items, &why);
    if (!end)
        return Command::usageError(why);
    Command command;
    if (*end != LineEnd::Read) {
        command.action = *end == LineEnd::Help ? Command::Action::Help : Command::Action::Version;
        return command;
    }
    QStringList given;
    for (const ArgumentItem& item : items) {
        const bool applied =
            item.option < 0 ? grammar.operand(command.options, item.value, item.afterDashes, &why)
                            : grammar.rows[std::size_t(item.option)].apply(command.options, item.value, &why);
        if (!applied) {
            Command refused = Command::usageError(why);
            refused.options = std::move(command.options);
            return refused;
        }
        if (item.option >= 0)
            given.append(grammar.rows[std::size_t(item.option)].option.longName());
    }
    if (grammar.finish && !grammar.finish(command.options, given, &why)) {
        Command refused = Command::usageError(why);
        refused.options = std::move(command.options);
        return refused;
    }
    return command;
}

// Every option a verb's help lists: its table's, then -V/--version where it takes it, and -h/--help.
std::vector<OptionInfo> listedOptions(const VerbText& text, std::vector<OptionInfo> options);

// The help of a verb: its usage, what it does, its options and the text after them.
QString helpText(const VerbText& text, const std::vector<OptionInfo>& options);
// The usage lines and where to read more, after the reason a line cannot be read.
QString usageHint(const VerbText& text);

// The verb's answer to a command line that asks for no run: the help on standard output (status
// 0), the version (0), or the reason and the usage on standard error (status 64). None when the
// verb is to run.
template <typename Options>
std::optional<int> answerWithoutRunning(const VerbCommand<Options>& command, const Grammar<Options>& grammar);

void printHelp(const VerbText& text, const std::vector<OptionInfo>& options);
void printVersion();
// "ts6satchel VERB: WHY", then the usage hint, on standard error; the status of a usage error.
int refuseLine(const VerbText& text, const QString& why);

template <typename Options>
std::optional<int> answerWithoutRunning(const VerbCommand<Options>& command, const Grammar<Options>& grammar)
{
    using Action = typename VerbCommand<Options>::Action;
    switch (command.action) {
    case Action::Help:
        printHelp(grammar.text, grammar.optionList());
        return 0;
    case Action::Version:
        printVersion();
        return 0;
    case Action::UsageError:
        return refuseLine(grammar.text, command.error);
    case Action::Run:
        break;
    }
    return std::nullopt;
}

// A verb from its arguments to its exit status: the line read through the grammar, answered at once
// when it asks for no run, otherwise handed to run.
template <typename Options, typename Run>
int runVerb(const Grammar<Options>& grammar, const QStringList& arguments, const Run& run)
{
    const VerbCommand<Options> command = parseCommand(grammar, arguments);
    if (const std::optional<int> status = answerWithoutRunning(command, grammar))
        return *status;
    return run(command.options);
}
