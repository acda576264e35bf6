#include "package/PackageOptions.h"

#include "base/ByteSize.h"
#include "settings/AppConfig.h"

namespace {

const QString kSection = QStringLiteral("PackageOptions");
const QString kUploadSection = QStringLiteral("Upload");

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

SavedPackageOptions readSavedOptions(AppConfig& config)
{
    const auto read = [&](const char* key) { return config.value(kSection, QLatin1String(key), QString()); };
    const auto upload = [&](const char* key) {
        return config.value(kUploadSection, QLatin1String(key), QString()).trimmed();
    };
    return {read("MaskSecrets").trimmed() == QLatin1String("1"),
            count(read("MaxLogDays")),
            count(read("MaxLogMegabytes")),
            upload("Url"),
            upload("TokenFile"),
            upload("CaCert")};
}

void writeSavedOptions(AppConfig& config, const SavedPackageOptions& options)
{
    config.setValue(kSection, QStringLiteral("MaskSecrets"),
                    options.maskSecrets ? QStringLiteral("1") : QStringLiteral("0"));
    config.setValue(kSection, QStringLiteral("MaxLogDays"), text(options.maxLogDays));
    config.setValue(kSection, QStringLiteral("MaxLogMegabytes"), text(options.maxLogMegabytes));
    config.setValue(kUploadSection, QStringLiteral("Url"), options.uploadUrl);
    config.setValue(kUploadSection, QStringLiteral("TokenFile"), options.uploadTokenFile);
    config.setValue(kUploadSection, QStringLiteral("CaCert"), options.uploadCaCert);
}

PackageOptions optionsOn(const SavedPackageOptions& saved, QDate today)
{
    PackageOptions options{.maskSecrets = saved.maskSecrets};
    if (saved.maxLogDays)
        options.since = today.addDays(-*saved.maxLogDays);
    if (saved.maxLogMegabytes)
        options.maxLogBytes = qint64(*saved.maxLogMegabytes) * 1000 * 1000;
    return options;
}

QString tooOldReason(QDate since)
{
    return QStringLiteral("older than ") + since.toString(Qt::ISODate);
}

QString overBudgetReason(qint64 bytes)
{
    return QStringLiteral("log budget of ") + decimalSizeText(bytes) + QStringLiteral(" reached");
}
