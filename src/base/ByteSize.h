#pragma once

#include <QString>

#include <optional>

// Sizes as the program shows and reads them.
//
// Shown: in bytes below 1 KiB, else in KiB, MiB, GiB... with two decimals ("512 bytes", "42.01 KiB",
// "3.10 MiB"), the same in every verb and window, so that one file reads the same everywhere.
//
// Read: two readings, each that of the options that take a size today.
//   Binary   a whole number, or one with K, M or G for 1024, 1024² or 1024³ bytes ("512K", "8m",
//            " 1G ", "8 K"); no B, no decimals; at most 2^62 bytes.
//   Decimal  a number with up to 12 digits and 6 decimals, then K, M or G for thousands, millions
//            or billions of bytes, then B if wished ("200M", "1.5 GB", "1500"); the result rounded
//            to the nearest byte, at most 10^18.
// Neither reading takes a sign other than Binary's "+", nor digits other than 0 to 9.
enum class ByteUnits
{
    Binary,
    Decimal
};

// "512 bytes", "1 byte", "42.01 KiB"; a negative size as the same with a minus sign.
QString byteSizeText(qint64 bytes);
QString byteSizeText(quint64 bytes);

// A size in the largest of thousands, millions or billions of bytes that it is a whole number of,
// as a Decimal size is given: "200 MB", "1500 KB", "7 bytes".
QString decimalSizeText(qint64 bytes);

// The bytes a text names in that reading (0 is a size); none, with why, when it names none. The
// caller checks the range it takes.
std::optional<qint64> parseByteSize(const QString& text, ByteUnits units, QString* why);
