#include "base/ByteSize.h"

#include <QRegularExpression>

#include <array>
#include <limits>

namespace {

constexpr std::array<const char*, 6> kBinaryUnits{"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};

constexpr qint64 kMaxDecimal = 1'000'000'000'000'000'000;

qint64 power(qint64 base, qsizetype exponent)
{
    qint64 result = 1;
    for (qsizetype i = 0; i < exponent; ++i)
        result *= base;
    return result;
}

QString cannotRead(const QString& text, ByteUnits units)
{
    return QStringLiteral("cannot read the size '%1': give bytes, or a number with K, M or G (%2)")
        .arg(text, units == ByteUnits::Binary ? QStringLiteral("512K, 8M, 1G") : QStringLiteral("200M, 2G"));
}

std::optional<qint64> refuse(const QString& text, ByteUnits units, QString* why)
{
    if (why)
        *why = cannotRead(text, units);
    return std::nullopt;
}

std::optional<qint64> parseBinary(const QString& text, QString* why)
{
    static const QString units = QStringLiteral("KMG");
    QString digits = text.trimmed().toUpper();
    int shift = 0;
    if (!digits.isEmpty() && units.contains(digits.back())) {
        shift = 10 * (int(units.indexOf(digits.back())) + 1);
        digits.chop(1);
    }
    bool ok = false;
    const qint64 number = digits.toLongLong(&ok);
    if (!ok || number < 0 || number > (qint64(1) << (62 - shift)))
        return refuse(text, ByteUnits::Binary, why);
    return number << shift;
}

std::optional<qint64> parseDecimal(const QString& text, QString* why)
{
    static const QRegularExpression size(
        QStringLiteral("^([0-9]{1,12})(?:\\.([0-9]{1,6}))?\\s*([kKmMgG]?)[bB]?$"));
    const QRegularExpressionMatch match = size.match(text);
    if (!match.hasMatch())
        return refuse(text, ByteUnits::Decimal, why);
    const QString unitLetter = match.captured(3).toLower();
    const qint64 unit = power(1000, unitLetter.isEmpty() ? 0 : QStringLiteral("kmg").indexOf(unitLetter) + 1);
    const QString fraction = match.captured(2);
    const qint64 whole = match.captured(1).toLongLong();
    // The decimals in whole bytes, the half rounded up: 1.5 bytes is 2.
    const qint64 scale = power(10, fraction.size());
    const qint64 part = fraction.isEmpty() ? 0 : (fraction.toLongLong() * unit + scale / 2) / scale;
    if (whole > (kMaxDecimal - part) / unit)
        return refuse(text, ByteUnits::Decimal, why);
    const qint64 bytes = whole * unit + part;
    if (bytes > kMaxDecimal)
        return refuse(text, ByteUnits::Decimal, why);
    return bytes;
}

} // namespace

QString byteSizeText(quint64 bytes)
{
    if (bytes < 1024)
        return QString::number(bytes) + (bytes == 1 ? QStringLiteral(" byte") : QStringLiteral(" bytes"));
    std::size_t unit = 0;
    long double value = static_cast<long double>(bytes) / 1024;
    // Rounded to two decimals, 1023.999 KiB would read "1024.00 KiB": it is 1.00 MiB.
    while (unit + 1 < kBinaryUnits.size() && value >= 1024 - 0.005L) {
        value /= 1024;
        ++unit;
    }
    return QString::number(double(value), 'f', 2) + QLatin1Char(' ') + QLatin1String(kBinaryUnits[unit]);
}

QString byteSizeText(qint64 bytes)
{
    if (bytes >= 0)
        return byteSizeText(static_cast<quint64>(bytes));
    return QLatin1Char('-') + byteSizeText(static_cast<quint64>(-(bytes + 1)) + 1);
}

QString decimalSizeText(qint64 bytes)
{
    for (const auto& [unit, size] :
         {std::pair{"GB", 1000LL * 1000 * 1000}, std::pair{"MB", 1000LL * 1000}, std::pair{"KB", 1000LL}})
        if (bytes >= size && bytes % size == 0)
            return QString::number(bytes / size) + QLatin1Char(' ') + QLatin1String(unit);
    return QString::number(bytes) + (bytes == 1 ? QStringLiteral(" byte") : QStringLiteral(" bytes"));
}

std::optional<qint64> parseByteSize(const QString& text, ByteUnits units, QString* why)
{
    return units == ByteUnits::Binary ? parseBinary(text, why) : parseDecimal(text, why);
}
