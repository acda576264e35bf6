#include "cli/OptionTable.h"

#include "base/ExitStatus.h"
#include "base/ShownText.h"

#include <cstdio>

namespace {

QString dashed(const QString& name)
{
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

// The option a name stands for: an index of the table, or -2 for help and -3 for the version.
constexpr int kHelp = -2;
constexpr int kVersion = -3;
constexpr int kUnknown = -4;

int findOption(const std::vector<OptionInfo>& options, bool takesVersion, const QString& name)
{
    if (helpOption().names.contains(name))
        return kHelp;
    if (takesVersion && versionOption().names.contains(name))
        return kVersion;
    for (std::size_t i = 0; i < options.size(); ++i)
        if (options[i].names.contains(name))
            return int(i);
    return kUnknown;
}

bool takesValue(const std::vector<OptionInfo>& options, int option)
{
    return option >= 0 && options[std::size_t(option)].takesValue();
}

// An option's lines in a help text: its names, then its help wrapped to lines of 100 at most.
QString helpLine(const QString& left, const QString& right)
{
    constexpr qsizetype kIndent = 25;
    constexpr qsizetype kWidth = 100;
    QString text = QStringLiteral("  ") + left.leftJustified(kIndent - 3) + QLatin1Char(' ');
    qsizetype column = text.size();
    if (left.size() > kIndent - 5) { // its help on a line of its own, two blanks at least apart
        text = QStringLiteral("  ") + left + QLatin1Char('\n') + QString(kIndent, QLatin1Char(' '));
        column = kIndent;
    }
    for (const QString& word : right.split(QLatin1Char(' '))) {
        if (column > kIndent && column + 1 + word.size() > kWidth) {
            text += QLatin1Char('\n') + QString(kIndent, QLatin1Char(' '));
            column = kIndent;
        } else if (column > kIndent) {
            text += QLatin1Char(' ');
            ++column;
        }
        text += word;
        column += word.size();
    }
    return text + QLatin1Char('\n');
}

QString program(const VerbText& text)
{
    return text.verb.isEmpty() ? QStringLiteral("ts6satchel") : QStringLiteral("ts6satchel ") + text.verb;
}

QString usageLines(const VerbText& text)
{
    QString lines;
    for (qsizetype i = 0; i < text.usage.size(); ++i)
        lines += (i == 0 ? QStringLiteral("Usage: ") : QStringLiteral("       ")) +
                 QStringLiteral("ts6satchel ") + text.usage.at(i) + QLatin1Char('\n');
    return lines;
}

} // namespace

QString OptionInfo::spelled() const
{
    QStringList spelled;
    for (const QString& name : names)
        spelled.append(dashed(name));
    QString text = spelled.join(QStringLiteral(", "));
    if (takesValue())
        text += QLatin1Char(' ') + valueName;
    return text;
}

QString OptionInfo::longName() const
{
    return dashed(names.constLast());
}

OptionInfo helpOption()
{
    return {{QStringLiteral("h"), QStringLiteral("help")}, {}, QStringLiteral("print this help and end")};
}

OptionInfo versionOption()
{
    return {
        {QStringLiteral("V"), QStringLiteral("version")}, {}, QStringLiteral("print the version and end")};
}

std::optional<LineEnd> splitArguments(const std::vector<OptionInfo>& options, bool takesVersion,
                                      const QStringList& arguments, std::vector<ArgumentItem>* items,
                                      QString* why)
{
    bool afterDashes = false;
    const auto ended = [](int option) {
        return option == kHelp ? std::optional(LineEnd::Help) : std::optional(LineEnd::Version);
    };
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (afterDashes || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
            items->push_back({-1, argument, afterDashes});
            continue;
        }
        if (argument == QLatin1String("--")) {
            afterDashes = true;
            continue;
        }
        // The rest of the argument after the option's name, when it holds the value.
        QString name;
        std::optional<QString> attached;
        if (argument.startsWith(QLatin1String("--"))) {
            const qsizetype equals = argument.indexOf(QLatin1Char('='));
            name = equals > 0 ? argument.mid(2, equals - 2) : argument.mid(2);
            if (equals > 0)
                attached = argument.mid(equals + 1);
            if (name.size() < 2) {
                *why = QStringLiteral("unknown option '%1'.").arg(shownText(argument));
                return std::nullopt;
            }
        } else {
            // One letter, then either its value or more letters of switches.
            for (qsizetype at = 1; at < argument.size(); ++at) {
                const int option = findOption(options, takesVersion, argument.mid(at, 1));
                if (option == kUnknown) {
                    *why = QStringLiteral("unknown option '-%1'.").arg(shownText(argument.mid(at, 1)));
                    return std::nullopt;
                }
                if (option < 0)
                    return ended(option);
                if (!takesValue(options, option)) {
                    items->push_back({option, {}, false});
                    continue;
                }
                QString value = argument.mid(at + 1);
                if (value.isEmpty()) {
                    if (i + 1 >= arguments.size()) {
                        *why = QStringLiteral("-%1 needs a value.").arg(argument.at(at));
                        return std::nullopt;
                    }
                    value = arguments.at(++i);
                }
                items->push_back({option, value, false});
                break;
            }
            continue;
        }
        const int option = findOption(options, takesVersion, name);
        if (option == kUnknown) {
            *why = QStringLiteral("unknown option '--%1'.").arg(shownText(name));
            return std::nullopt;
        }
        if (!takesValue(options, option)) {
            if (attached) {
                *why = QStringLiteral("--%1 takes no value.").arg(name);
                return std::nullopt;
            }
            if (option < 0)
                return ended(option);
            items->push_back({option, {}, false});
            continue;
        }
        if (!attached) {
            if (i + 1 >= arguments.size()) {
                *why = QStringLiteral("--%1 needs a value.").arg(name);
                return std::nullopt;
            }
            attached = arguments.at(++i);
        }
        items->push_back({option, *attached, false});
    }
    return LineEnd::Read;
}

std::vector<OptionInfo> listedOptions(const VerbText& text, std::vector<OptionInfo> options)
{
    if (text.takesVersion)
        options.push_back(versionOption());
    options.push_back(helpOption());
    return options;
}

QString helpText(const VerbText& text, const std::vector<OptionInfo>& options)
{
    QString help = usageLines(text) + QLatin1Char('\n') + text.about;
    if (!text.about.isEmpty() && !text.about.endsWith(QLatin1String("\n\n")))
        help += QLatin1Char('\n');
    help += QStringLiteral("Options:\n");
    for (const OptionInfo& option : listedOptions(text, options))
        help += helpLine(option.spelled(), option.help);
    return help + QLatin1Char('\n') + text.epilogue;
}

QString usageHint(const VerbText& text)
{
    return usageLines(text) + QStringLiteral("Try '%1 --help' for more information.\n").arg(program(text));
}

void printHelp(const VerbText& text, const std::vector<OptionInfo>& options)
{
    std::fputs(qPrintable(helpText(text, options)), stdout);
}

void printVersion()
{
    std::printf("ts6satchel %s\n", TS6_VERSION);
}

int refuseLine(const VerbText& text, const QString& why)
{
    std::fputs(qPrintable(QStringLiteral("%1: %2\n").arg(program(text), shownText(why))), stderr);
    std::fputs(qPrintable(usageHint(text)), stderr);
    return ExitStatus::kUsage;
}
