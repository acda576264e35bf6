#pragma once

#include <QLatin1StringView>
#include <QtGlobal>

// What a support package is made of, named once for the writer and for every reader.
namespace PackageFormat {

// The text every masked value becomes.
inline constexpr char kMask[] = "********";
// The version manifest, at the package's root.
inline constexpr char kManifestName[] = "TSVERSION.TXT";
// What masking did, at the package's root when it did anything.
inline constexpr char kMaskingReportName[] = "REDACTED.TXT";

// The zip records' signatures.
inline constexpr quint32 kLocalHeader = 0x04034b50;
inline constexpr quint32 kCentralHeader = 0x02014b50;
inline constexpr quint32 kEndOfDirectory = 0x06054b50;
inline constexpr quint32 kZip64End = 0x06064b50;
inline constexpr quint32 kZip64Locator = 0x07064b50;
inline constexpr quint32 kDataDescriptor = 0x08074b50;

// The keys of a build's --json summary that collect reads from a remote build.
inline constexpr QLatin1StringView kSummaryPackage{"package"};
inline constexpr QLatin1StringView kSummaryBytes{"bytes"};
inline constexpr QLatin1StringView kSummarySha256{"sha256"};
inline constexpr QLatin1StringView kSummaryReason{"reason"};

} // namespace PackageFormat
