#include "app/frmAbout.h"

#include "app/frmSatchel.h"
#include "components/RegisterDesktop.h"
#include "package/mDlg.h"
#include "platform/qt/QtDesktop.h"

#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

const QString frmAbout::Website = QStringLiteral("https://www.norvale.example");
const QString frmAbout::Email = QStringLiteral("support@norvale.example");

namespace {

const QString kCompanyInfo = QStringLiteral("Norvale \r\n14 Harbour Row\r\nKestrel Bay KB4 2NW\r\n"
                                            "Tel: +44 1632 960415\r\nFax: +44 1632 960416");

int px(double twips, bool horizontal)
{
    const QtScreen screen;
    return qRound(twips / (horizontal ? screen.TwipsPerPixelX() : screen.TwipsPerPixelY()));
}

} // namespace

QString frmAbout::VersionText(int major, int minor, int revision)
{
    return QString::number(major) + QLatin1Char('.') + QString::number(minor) + QStringLiteral(" Build ") +
           QString::number(revision);
}

QString frmAbout::MailtoText(const QString& address, const QString& title)
{
    return QStringLiteral("mailto:") + address + QStringLiteral("?Subject=") + title +
           QStringLiteral("&Body=");
}

frmAbout::frmAbout(QWidget* owner, std::function<bool(const QString&)> open)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint),
      m_open(open ? std::move(open) : std::function<bool(const QString&)>(OpenOnDesktop))
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About"));
    setModal(true);
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setFixedSize(px(6045, true), px(4620, false));
    Form_Load();
    if (owner)
        move(mDlg::CenterOver(owner->frameGeometry(), QRect(QPoint(), size())));
}

QLabel* frmAbout::label(const char* name, int left, int top, int width, int height)
{
    auto* l = new QLabel(this);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(px(left, true), px(top, false), px(width, true), px(height, false));
    return l;
}

void frmAbout::Form_Load()
{
    QLabel* image = label("Image1", 0, 0, 8700, 960);
    image->setPixmap(QPixmap(QStringLiteral(":/pictures/banner.jpg")));
    image->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    QLabel* title = label("lblAppTitle", 120, 960, 5775, 375);
    title->setText(frmSatchel::AppTitle);
    title->setAlignment(Qt::AlignCenter);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(13.5);
    titleFont.setBold(true);
    title->setFont(titleFont);

    QLabel* version = label("lblVersion", 120, 1320, 5775, 255);
    version->setText(VersionText(TS6_VERSION_MAJOR, TS6_VERSION_MINOR, TS6_VERSION_TWEAK));
    version->setAlignment(Qt::AlignCenter);

    QLabel* company = label("lblCompanyInfo", 2970, 1800, 2895, 1335);
    company->setText(kCompanyInfo);
    company->setAlignment(Qt::AlignRight | Qt::AlignTop);

    const QString linkStyle = QStringLiteral("color: blue; text-decoration: underline;");
    m_website = label("lblWebsite", 3000, 3240, 2895, 255);
    m_email = label("lblEmail", 3000, 3600, 2895, 255);
    m_website->setText(Website);
    m_email->setText(Email);
    for (QLabel* link : {m_website, m_email}) {
        link->setStyleSheet(linkStyle);
        link->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        link->setCursor(Qt::PointingHandCursor);
        link->installEventFilter(this);
    }

    // An etched separator: a shadow line with a light line just below it.
    auto* line1 = new QFrame(this);
    line1->setObjectName(QStringLiteral("Line1"));
    line1->setGeometry(px(120, true), px(3960, false), px(5760, true), 1);
    line1->setStyleSheet(QStringLiteral("background: palette(dark);"));
    auto* line2 = new QFrame(this);
    line2->setObjectName(QStringLiteral("Line2"));
    line2->setGeometry(px(120, true), px(3960, false) + 1, px(5760, true), 1);
    line2->setStyleSheet(QStringLiteral("background: palette(light);"));

    auto* ok = new QPushButton(QStringLiteral("&OK"), this);
    ok->setObjectName(QStringLiteral("cmdOk"));
    ok->setGeometry(px(2385, true), px(4080, false), px(1215, true), px(495, false));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

void frmAbout::lblWebsite_Click()
{
    m_open(m_website->text()); // a failure to open is not reported
}

void frmAbout::lblEmail_Click()
{
    m_open(MailtoText(m_email->text(), frmSatchel::AppTitle));
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease) {
        if (watched == m_website)
            lblWebsite_Click();
        else if (watched == m_email)
            lblEmail_Click();
    }
    return QDialog::eventFilter(watched, event);
}
