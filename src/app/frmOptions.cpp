#include "app/frmOptions.h"

#include "delivery/UploadOptions.h"
#include "desktop/QtDesktop.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

constexpr int kDefaultDays = 30;
constexpr int kDefaultMegabytes = 200;

QCheckBox* check(QWidget* parent, const char* name, const QString& text, bool checked)
{
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setChecked(checked);
    return box;
}

} // namespace

frmOptions::frmOptions(QWidget* owner, const SavedPackageOptions& options)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                         Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(tr("Options"));
    setModal(true);
    auto* box = new QVBoxLayout(this);
    box->setSizeConstraint(QLayout::SetFixedSize);

    m_mask =
        check(this, "chkMaskSecrets", tr("&Mask secrets in the package's text files"), options.maskSecrets);
    box->addWidget(m_mask);
    auto* maskNote = new QLabel(tr("Passwords, tokens and keys become ********; REDACTED.TXT in the package "
                                   "says how many in each file."),
                                this);
    maskNote->setWordWrap(true);
    maskNote->setContentsMargins(24, 0, 0, 0);
    box->addWidget(maskNote);
    box->addSpacing(8);

    auto* logs = new QLabel(tr("Log files, newest first:"), this);
    box->addWidget(logs);
    m_byAge = check(this, "chkLogAge", tr("Leave out log files &older than"), options.maxLogDays.has_value());
    m_days = limit(box, m_byAge, options.maxLogDays.value_or(kDefaultDays), 0, 36500,
                   tr("Oldest log files to pack, in days"), tr(" days"), QString());
    m_bySize = check(this, "chkLogSize", tr("Pack &at most"), options.maxLogMegabytes.has_value());
    m_megabytes = limit(box, m_bySize, options.maxLogMegabytes.value_or(kDefaultMegabytes), 1, 1000000,
                        tr("Most log files to pack, in megabytes"), tr(" MB"), tr("of log files"));
    box->addSpacing(8);

    auto* scope = new QLabel(tr("These options apply to the packages built in this window; a batch start "
                                "takes its own from the command line."),
                             this);
    scope->setWordWrap(true);
    box->addWidget(scope);
    box->addSpacing(8);

    auto* upload = new QFormLayout;
    m_uploadUrl = new QLineEdit(options.uploadUrl, this);
    m_uploadUrl->setObjectName(QStringLiteral("txtUploadUrl"));
    m_uploadUrl->setPlaceholderText(tr("https://support.example/files/"));
    m_uploadUrl->setMinimumWidth(fontMetrics().averageCharWidth() * 42); // a whole address in sight
    upload->addRow(tr("Upload &URL:"), m_uploadUrl);
    m_tokenFile = new QLineEdit(options.uploadTokenFile, this);
    m_tokenFile->setObjectName(QStringLiteral("txtUploadTokenFile"));
    m_tokenFile->setPlaceholderText(tr("none, or TS6_UPLOAD_TOKEN"));
    upload->addRow(tr("&Token file:"), m_tokenFile);
    m_caCert = new QLineEdit(options.uploadCaCert, this);
    m_caCert->setObjectName(QStringLiteral("txtUploadCaCert"));
    m_caCert->setPlaceholderText(tr("none: the system's CA store"));
    upload->addRow(tr("CA c&ertificates:"), m_caCert);
    box->addLayout(upload);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("buttons"));
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    const auto checkUrl = [this, ok] {
        const QString url = m_uploadUrl->text().trimmed();
        const QString bad = url.isEmpty() ? QString() : checkServerUrl(url);
        ok->setEnabled(bad.isEmpty());
        m_uploadUrl->setToolTip(bad.isEmpty() ? QString() : tr("Not an http or https address"));
    };
    connect(m_uploadUrl, &QLineEdit::textChanged, this, checkUrl);
    checkUrl();
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    box->addWidget(buttons);
    m_mask->setFocus();
    if (owner)
        move(centerOver(owner->frameGeometry(), QRect(QPoint(), sizeHint())));
}

// A spin box after its check box, and the words that follow it, on a row of their own; usable
// while the box is checked.
QSpinBox* frmOptions::limit(QBoxLayout* box, QCheckBox* check, int value, int low, int high,
                            const QString& accessibleName, const QString& unit, const QString& after)
{
    auto* spin = new QSpinBox(this);
    spin->setObjectName(check->objectName().replace(QLatin1String("chk"), QLatin1String("spn")));
    spin->setRange(low, high);
    spin->setValue(value);
    spin->setSuffix(unit);
    spin->setAccessibleName(accessibleName);
    spin->setEnabled(check->isChecked());
    connect(check, &QCheckBox::toggled, spin, &QWidget::setEnabled);
    auto* row = new QHBoxLayout;
    row->addWidget(check);
    row->addWidget(spin);
    if (!after.isEmpty())
        row->addWidget(new QLabel(after, this));
    row->addStretch();
    box->addLayout(row);
    return spin;
}

SavedPackageOptions frmOptions::options() const
{
    SavedPackageOptions options{.maskSecrets = m_mask->isChecked()};
    if (m_byAge->isChecked())
        options.maxLogDays = m_days->value();
    if (m_bySize->isChecked())
        options.maxLogMegabytes = m_megabytes->value();
    options.uploadUrl = m_uploadUrl->text().trimmed();
    options.uploadTokenFile = m_tokenFile->text().trimmed();
    options.uploadCaCert = m_caCert->text().trimmed();
    return options;
}
