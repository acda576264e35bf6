#pragma once

#include "outside/ISettingsStore.h"

#include <memory>

struct IniStoreContents;

// The settings store as an INI file, $XDG_CONFIG_HOME/Norvale/<product>/<application>.ini (the
// home folder's .config when unset).
//
// reload reads the file only when it changed since the last read (its device, inode, size and
// modification time), so that the reload before every setting costs one stat. save takes the
// lock of the file's folder, reads the file afresh, puts in only the keys this store changed
// since its last reload (so that another run that saved other keys meanwhile keeps them) and
// writes a new file in the same folder that it renames over the old one: a failed save leaves
// the old file as it was. A damaged file is read as far as it is understood and rewritten whole.
// A file larger than 1 MB is neither read nor written for the rest of the run: Warning says so,
// and the settings of the run stay in memory. A file made read-only, or another user's outside a
// folder of this user's, is read and never replaced: save fails, saying so.
class IniSettingsStore final : public ISettingsStore
{
public:
    IniSettingsStore();
    ~IniSettingsStore() override;

    bool setApplicationName(const QString& name) override;
    bool setProduct(const QString& product) override;
    bool reload() override;
    bool save() override;
    std::shared_ptr<ISettingsSection> addSection(const QString& name) override;
    std::shared_ptr<ISettingsSection> getSection(const QString& name) override;
    bool hasSection(const QString& name, bool& has) override;
    QString lastError() const override { return m_lastError; }
    QString warning() const override { return m_warning; }
    QString filePath() const override;

    static QString filePath(const QString& product, const QString& application);

private:
    // Starts afresh after the product or the application name changed.
    void forget();
    bool fileName(QString& file);
    bool read(const QString& file);
    void save(const QString& file);
    void leaveAlone(const QString& file, const QString& why);
    // Runs a step that raises its failure; the failure becomes lastError, a stop signal goes on.
    template <typename Work> bool asStatus(Work&& work);

    QString m_product;
    QString m_application;
    QString m_file;             // the host path, once known
    bool m_foreignLink = false; // m_file is a link someone else made: not read nor written through
    std::shared_ptr<IniStoreContents> m_contents;
    QString m_lastError;
    QString m_warning; // once set, the file is left alone
};
