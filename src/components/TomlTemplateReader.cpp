#include "components/TomlTemplateReader.h"

#include "base/RuntimeError.h"
#include "outside/HostFunctions.h"
#include "platform/HostName.h"

#include <QFile>

#include <toml++/toml.h>

namespace {

const QString kSource = QStringLiteral("TemplateReader");
constexpr std::int32_t kNotATemplate = -2147217900; // the reader's own failure status

[[noreturn]] void notATemplate(const QString& name, const QString& why)
{
    raiseError(kNotATemplate, name + QStringLiteral(" is not a template: ") + why, kSource);
}

QString toText(const toml::node* node)
{
    if (!node)
        return {};
    if (const auto* s = node->as_string())
        return QString::fromStdString(s->get());
    if (const auto* i = node->as_integer())
        return QString::number(i->get());
    if (const auto* f = node->as_floating_point())
        return QString::number(f->get());
    if (const auto* b = node->as_boolean())
        return b->get() ? QStringLiteral("True") : QStringLiteral("False");
    return {};
}

QString textOf(const toml::table& table, std::string_view key)
{
    return toText(table.get(key));
}

// The tables of an array of tables; anything else under that key is not a template.
std::vector<const toml::table*> tablesOf(const toml::table& root, std::string_view key, const QString& name)
{
    std::vector<const toml::table*> tables;
    const toml::node* node = root.get(key);
    if (!node)
        return tables;
    const toml::array* array = node->as_array();
    if (!array)
        notATemplate(name, QString::fromLatin1(key.data(), static_cast<qsizetype>(key.size())) +
                               QStringLiteral(" must be a list of tables"));
    for (const toml::node& item : *array) {
        const toml::table* table = item.as_table();
        if (!table)
            notATemplate(name, QString::fromLatin1(key.data(), static_cast<qsizetype>(key.size())) +
                                   QStringLiteral(" must be a list of tables"));
        tables.push_back(table);
    }
    return tables;
}

} // namespace

void TomlTemplateReader::Open(const QVariant& path)
{
    m_content.reset();
    const QString name = path.toString();
    QString why;
    const std::optional<QString> host = Host::hostPathForReading(name, &why);
    if (!host)
        raiseError(ErrorNumber::FileNotFound, why + QStringLiteral(": ") + name, kSource);
    // Opened by its host name's bytes, and only as a regular file: a named pipe of a template's
    // name must never hold up the load.
    UniqueFd fd = HostName::openRegularFile(*host, why);
    QFile file;
    if (!fd || !file.open(fd.get(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        raiseError(ErrorNumber::PermissionDenied,
                   QStringLiteral("Cannot read ") + name + QStringLiteral(": ") +
                       (!fd ? why : file.errorString()),
                   kSource);
    fd.release(); // the file closes it now
    if (file.size() > kMaxBytes)
        notATemplate(name, QStringLiteral("the file is too large"));
    const QByteArray text = file.read(kMaxBytes + 1);
    if (file.error() != QFileDevice::NoError)
        raiseError(ErrorNumber::DeviceIoError,
                   QStringLiteral("Cannot read ") + name + QStringLiteral(": ") + file.errorString(),
                   kSource);
    openText(text, name);
}

void TomlTemplateReader::openText(const QByteArray& text, const QString& sourceName)
{
    m_content.reset();
    toml::table root;
    try {
        root = toml::parse(std::string_view(text.constData(), static_cast<size_t>(text.size())));
    } catch (const toml::parse_error& e) {
        notATemplate(sourceName, QString::fromUtf8(e.description().data(),
                                                   static_cast<qsizetype>(e.description().size())));
    }
    const toml::table* header = root.get_as<toml::table>("Template");
    if (!header)
        notATemplate(sourceName, QStringLiteral("it has no [Template] table"));
    Content content;
    content.title = textOf(*header, "Title");
    content.preProcess = textOf(*header, "PreProcessBatchFile");
    content.auditLog = textOf(*header, "AuditLogFile");
    content.postProcess = textOf(*header, "PostProcessBatchFile");
    for (const toml::table* f : tablesOf(root, "Field", sourceName))
        content.fields.push_back({textOf(*f, "Name"), textOf(*f, "KindCode"), textOf(*f, "PopupFile"),
                                  textOf(*f, "InputFile"), textOf(*f, "OutputFile"), textOf(*f, "HelpFile")});
    for (const toml::table* v : tablesOf(root, "View", sourceName)) {
        const toml::node* number = v->get("Number");
        QVariant value;
        if (number && number->is_integer())
            value = QVariant::fromValue(number->as_integer()->get());
        else
            value = toText(number);
        content.views.push_back({textOf(*v, "Name"), value});
    }
    m_content = std::move(content);
}

const TomlTemplateReader::Content& TomlTemplateReader::open() const
{
    if (!m_content)
        raiseError(ErrorNumber::ObjectRequired, QStringLiteral("No template is open"), kSource);
    return *m_content;
}

QString TomlTemplateReader::Title()
{
    return open().title;
}
QString TomlTemplateReader::PreProcessBatchFile()
{
    return open().preProcess;
}
QString TomlTemplateReader::AuditLogFile()
{
    return open().auditLog;
}
QString TomlTemplateReader::PostProcessBatchFile()
{
    return open().postProcess;
}
int TomlTemplateReader::fieldCount()
{
    return static_cast<int>(open().fields.size());
}
int TomlTemplateReader::viewCount()
{
    return static_cast<int>(open().views.size());
}

TemplateField TomlTemplateReader::field(int number)
{
    const auto& fields = open().fields;
    if (number < 1 || static_cast<size_t>(number) > fields.size())
        raiseError(ErrorNumber::SubscriptOutOfRange, QStringLiteral("Subscript out of range"), kSource);
    return fields[static_cast<size_t>(number) - 1];
}

void TomlTemplateReader::LoadViews()
{
    open();
}

TemplateView TomlTemplateReader::view(int number)
{
    const auto& views = open().views;
    if (number < 1 || static_cast<size_t>(number) > views.size())
        raiseError(ErrorNumber::SubscriptOutOfRange, QStringLiteral("Subscript out of range"), kSource);
    return views[static_cast<size_t>(number) - 1];
}

void TomlTemplateReader::Close()
{
    m_content.reset();
}
