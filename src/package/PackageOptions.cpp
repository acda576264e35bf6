#include "package/PackageOptions.h"

#include "settings/AppConfig.h"

namespace {

const QString kSection = QStringLiteral("PackageOptions");

// A stored count, or none when the key is empty or holds no count.
std::optional<int> count(const QString& text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok && value >= 0 ? std::optional<int>(value) : std::nullopt;
}

QString text(std::optional<int> value)
{
    return value ? QString::number(*value) : QString();
}

} // namespace

SavedPackageOptions ReadSavedOptions(AppConfig& config)
{
    const auto read = [&](const char* key) { return config.Value(kSection, QLatin1String(key), QString()); };
    return {read("MaskSecrets").trimmed() == QLatin1String("1"), count(read("MaxLogDays")),
            count(read("MaxLogMegabytes"))};
}

void WriteSavedOptions(AppConfig& config, const SavedPackageOptions& options)
{
    config.SetValue(kSection, QStringLiteral("MaskSecrets"),
                    options.maskSecrets ? QStringLiteral("1") : QStringLiteral("0"));
    config.SetValue(kSection, QStringLiteral("MaxLogDays"), text(options.maxLogDays));
    config.SetValue(kSection, QStringLiteral("MaxLogMegabytes"), text(options.maxLogMegabytes));
}

PackageOptions OptionsOn(const SavedPackageOptions& saved, QDate today)
{
    PackageOptions options{.maskSecrets = saved.maskSecrets};
    if (saved.maxLogDays)
        options.since = today.addDays(-*saved.maxLogDays);
    if (saved.maxLogMegabytes)
        options.maxLogBytes = qint64(*saved.maxLogMegabytes) * 1000 * 1000;
    return options;
}

QString SizeText(qint64 bytes)
{
    for (const auto& [unit, size] :
         {std::pair{"GB", 1000LL * 1000 * 1000}, std::pair{"MB", 1000LL * 1000}, std::pair{"KB", 1000LL}})
        if (bytes >= size && bytes % size == 0)
            return QString::number(bytes / size) + QLatin1Char(' ') + QLatin1String(unit);
    return QString::number(bytes) + (bytes == 1 ? QStringLiteral(" byte") : QStringLiteral(" bytes"));
}

QString TooOldReason(QDate since)
{
    return QStringLiteral("older than ") + since.toString(Qt::ISODate);
}

QString OverBudgetReason(qint64 bytes)
{
    return QStringLiteral("log budget of ") + SizeText(bytes) + QStringLiteral(" reached");
}
