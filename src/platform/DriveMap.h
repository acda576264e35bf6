#pragma once

#include <QString>

#include <optional>
#include <vector>

// The drive map of TS6_DRIVES: "LETTER=HOSTFOLDER" pairs separated by ";", and network shares
// as "\\server\share=HOSTFOLDER". Z maps to "/" unless the map says otherwise.
struct DriveRoot
{
    QString name;       // "C", or "\\server\share" as the map spells it
    QString hostFolder; // absolute host folder, without trailing "/" (except "/" itself)
    bool isShare() const { return name.startsWith(QLatin1String("\\\\")); }
};

class DriveMap
{
public:
    static DriveMap fromEnvironment();
    static DriveMap parse(const QString& text);

    // The root for a drive letter or a "\\server\share" prefix, compared case-blind.
    std::optional<DriveRoot> find(const QString& name) const;
    // The root whose host folder is the longest component-wise prefix of an absolute host path.
    std::optional<DriveRoot> owner(const QString& hostPath) const;

private:
    std::vector<DriveRoot> m_roots;
};
