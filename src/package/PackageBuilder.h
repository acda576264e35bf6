#pragma once

#include "base/RuntimeError.h"
#include "outside/ComponentMakers.h"
#include "outside/IProgressWindow.h"
#include "outside/ISaveDialog.h"
#include "outside/IZipWriter.h"
#include "package/PackageOptions.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class AppConfig;
class IEventLoop;
class IMessageBox;
class IMousePointer;
class IPathUtility;
class IProgressWindow;
class ITreeGrid;

// The windows and the desktop that a build shows: the pointer, the event loop, messages, the save
// dialog (over its owner, starting in the program's folder) and the progress window.
struct DesktopServices
{
    IMousePointer& pointer;
    IEventLoop& events;
    IMessageBox& messages;
    ISaveDialog& saveDialog;
    std::function<std::unique_ptr<IProgressWindow>()> makeProgressWindow;
    WindowHandle owner = 0;
    QString programFolder; // Windows-style; where the save dialog starts
};

// Turns the included rows of the grid into one zip package: the rows' files with their companions,
// the folder script and the views files, the version manifest, the product's logs and its
// configuration files. The options, asked for at the start of each build, may mask secrets and
// budget the logs.
class PackageBuilder
{
public:
    // Each build makes its own path utility and zip writer.
    PackageBuilder(ITreeGrid& grid, std::function<AppConfig&()> config, DesktopServices desktop,
                   Maker<IPathUtility> pathUtility, Maker<IZipWriter> zipWriter,
                   std::function<PackageOptions()> options = {});
    ~PackageBuilder();

    void Build_Package(const QString& packageName, bool interactive);
    void cmdBuild_Click(const QString& currentFolder);

    // Whether the last build wrote its package, and where (the archive path, Windows-style).
    bool wrotePackage() const { return m_wrote; }
    const QString& archivePath() const { return m_archivePath; }
    // The run-time error that ended the last build, as its ERROR entry records it.
    const std::optional<RuntimeError>& lastError() const { return m_lastError; }
    // The package file list of the last build, as the manifest lists it.
    const QStringList& packageFiles() const { return m_files; }
    // What the last package written holds besides its files: entries, files left out, values masked.
    const PackageReport& report() const { return m_report; }

private:
    struct TemplateEntry
    {
        QString path;
        QString viewsFile;
        int views = 0;
    };

    void collect();
    void collectRow(int row);
    void folderScript(const QString& templatePath);
    void addCompanions(const QString& path, std::initializer_list<const char*> extensions);
    void append(const QString& path);
    // Returns the archive path, or the empty text when the build ends before zipping.
    QString settleArchivePath(const QString& packageName, bool interactive);
    void zip(const QString& archivePath, const QString& tempFolder, const QString& manifestPath,
             const QByteArray& manifest);
    void status(const QString& text);
    void setRules(IZipWriter& writer, AddRules::Masking masking, bool logs);
    std::vector<std::pair<QString, QString>> keptFiles(const QString& manifestPath) const;
    void setOutputs(IZipWriter& writer, const QString& archivePath, const QString& manifestPath) const;
    void discoverNames(IZipWriter& writer) const;

    ITreeGrid& m_grid;
    std::function<AppConfig&()> m_config;
    DesktopServices m_desktop;
    const Maker<IPathUtility> m_makePaths;
    const Maker<IZipWriter> m_makeWriter;
    std::function<PackageOptions()> m_options;
    PackageOptions m_current; // of the build under way
    PackageReport m_report;
    QStringList m_files;
    std::vector<TemplateEntry> m_templates;
    IPathUtility* m_paths = nullptr; // for the length of one build
    std::unique_ptr<IProgressWindow> m_progress;
    QString m_archivePath;
    std::optional<RuntimeError> m_lastError;
    bool m_wrote = false;
};
