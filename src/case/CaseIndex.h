#pragma once

#include "case/HostState.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// One host's line of the case index.
struct HostRecord
{
    QString host{};
    QString folder{}; // the host's own folder or template, when not the case's
    HostState state = HostState::Pending;
    QString reason{};
    QString version{};     // what the remote ts6satchel --version said
    QString fingerprint{}; // the host key's, as ssh showed it: "ssh-ed25519 SHA256:..."
    QString package{};     // relative to the case folder; empty until collected
    qint64 size = 0;
    QByteArray sha256{}; // lower-case hex
    double seconds = 0;
};

// A support case: what was asked of which hosts, and how each ended so far.
struct CaseIndex
{
    QString target{};
    QStringList options{};
    QDateTime started;
    std::optional<QDateTime> finished;
    std::vector<HostRecord> hosts;
};

// The folder of a host inside the case folder: "hosts/" and the host as given, with "/", ":" and
// "@" written as "_" (and a name of dots only made harmless).
QString hostFolder(const QString& host);

// index.json: {"case": {target, options, started, finished}, "hosts": [{host, state, reason,
// version, fingerprint, package, size, sha256, seconds}]}, null where a value is not known.
QByteArray indexJson(const CaseIndex& index);
// index.txt: the same for a person, one line per host.
QByteArray indexText(const CaseIndex& index);
// SHA256SUMS of the packages collected, as sha256sum -c reads it in the case folder.
QByteArray sha256Sums(const CaseIndex& index);

// Reads index.json back; none, with the reason, when the text is no case index.
std::optional<CaseIndex> readIndex(const QByteArray& json, QString* why);

class CaseFolder;

// Writes the three index files into the case folder, each whole under a new name and renamed;
// false, with what could not be written and why.
bool writeIndex(const CaseFolder& caseFolder, const CaseIndex& index, QString* why);

// 0 when every host was collected, 3 when some were, 1 when none was.
int exitStatusOf(const CaseIndex& index);
