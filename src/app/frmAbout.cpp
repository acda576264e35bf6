#include "app/frmAbout.h"

#include "controller/frmSatchel.h"
#include "desktop/QtDesktop.h"
#include "desktop/RegisterDesktop.h"
#include "diag/ErrorTrap.h"

#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

const QString frmAbout::Website = QStringLiteral("https://www.norvale.example");
const QString frmAbout::Email = QStringLiteral("support@norvale.example");

namespace {

const QString kCompanyInfo = QStringLiteral("Norvale \r\n14 Harbour Row\r\nKestrel Bay KB4 2NW\r\n"
                                            "Tel: +44 1632 960415\r\nFax: +44 1632 960416");

// One line of an etched separator, in a colour of the desktop's palette.
QFrame* line(QWidget* parent, const char* name, QPalette::ColorRole colour)
{
    auto* l = new QFrame(parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setFixedHeight(1);
    l->setAutoFillBackground(true);
    QPalette p = l->palette();
    p.setColor(QPalette::Window, parent->palette().color(colour));
    l->setPalette(p);
    return l;
}

} // namespace

QString frmAbout::versionText(int major, int minor, int revision)
{
    return QString::number(major) + QLatin1Char('.') + QString::number(minor) + tr(" Build ") +
           QString::number(revision);
}

QString frmAbout::mailtoText(const QString& address, const QString& title)
{
    return QStringLiteral("mailto:") + address + QStringLiteral("?Subject=") + title +
           QStringLiteral("&Body=");
}

frmAbout::frmAbout(QWidget* owner, std::function<bool(const QString&)> open)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                         Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_open(open ? std::move(open) : std::function<bool(const QString&)>(openOnDesktop))
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(tr("About"));
    setModal(true);
    setAutoFillBackground(true);
    setPalette(whitePalette(palette()));
    Form_Load();
    if (owner)
        move(centerOver(owner->frameGeometry(), QRect(QPoint(), sizeHint())));
}

QLabel* frmAbout::label(QBoxLayout* layout, const char* name, double heightTwips, Qt::Alignment alignment)
{
    auto* l = new QLabel(this);
    l->setObjectName(QString::fromLatin1(name));
    l->setMinimumHeight(toPixelsY(heightTwips));
    l->setAlignment(alignment);
    layout->addWidget(l);
    return l;
}

QLabel* frmAbout::link(QBoxLayout* layout, const char* name, const QString& address,
                       const QString& accessibleName)
{
    QLabel* l = label(layout, name, 255, Qt::AlignRight | Qt::AlignVCenter);
    l->setTextFormat(Qt::RichText);
    // Blue and underlined on the white box, whatever colour the desktop's theme gives links.
    l->setText(QStringLiteral("<a href=\"%1\" style=\"color:#0000ff; text-decoration:underline\">%1</a>")
                   .arg(address.toHtmlEscaped()));
    l->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    l->setAccessibleName(accessibleName);
    l->installEventFilter(this);
    return l;
}

void frmAbout::Form_Load()
{
    // The design's places, top to bottom; each part as high as the design, higher when its text
    // needs it, and the frame fixed at the size that results (never below the design's size).
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(0, 0, 0, toPixelsY(45));
    box->setSpacing(0);
    box->setSizeConstraint(QLayout::SetFixedSize);

    auto* image = new QLabel(this);
    image->setObjectName(QStringLiteral("Image1"));
    image->setPixmap(QPixmap(QStringLiteral(":/pictures/banner.jpg"))); // wider than the box: cut off
    image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    image->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    image->setMinimumSize(toPixelsX(6045), toPixelsY(960));
    image->setMaximumHeight(toPixelsY(960));
    box->addWidget(image);

    auto* body = new QVBoxLayout;
    body->setContentsMargins(toPixelsX(120), 0, toPixelsX(150), 0);
    body->setSpacing(0);
    box->addLayout(body);

    QLabel* title = label(body, "lblAppTitle", 375, Qt::AlignCenter);
    title->setText(frmSatchel::AppTitle);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(13.5);
    titleFont.setBold(true);
    title->setFont(titleFont);
    label(body, "lblVersion", 255, Qt::AlignCenter)
        ->setText(versionText(TS6_VERSION_MAJOR, TS6_VERSION_MINOR, TS6_VERSION_TWEAK));
    body->addSpacing(toPixelsY(225));
    label(body, "lblCompanyInfo", 1335, Qt::AlignRight | Qt::AlignTop)->setText(kCompanyInfo);
    body->addSpacing(toPixelsY(105));
    m_website = link(body, "lblWebsite", Website, tr("Web site"));
    connect(m_website, &QLabel::linkActivated, this, guarded([this] { lblWebsite_Click(); }));
    body->addSpacing(toPixelsY(105));
    m_email = link(body, "lblEmail", Email, tr("Support e-mail"));
    connect(m_email, &QLabel::linkActivated, this, guarded([this] { lblEmail_Click(); }));
    body->addSpacing(toPixelsY(105));

    // An etched separator: a shadow line with a light line just below it.
    body->addWidget(line(this, "Line1", QPalette::Dark));
    body->addWidget(line(this, "Line2", QPalette::Light));
    body->addSpacing(toPixelsY(90));

    auto* ok = new QPushButton(tr("&OK"), this);
    ok->setObjectName(QStringLiteral("cmdOk"));
    ok->setMinimumSize(toPixelsX(1215), toPixelsY(495));
    ok->setDefault(true);
    ok->setFocus();
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    body->addWidget(ok, 0, Qt::AlignHCenter);
}

void frmAbout::lblWebsite_Click()
{
    m_open(Website); // a failure to open is not reported
}

void frmAbout::lblEmail_Click()
{
    m_open(mailtoText(Email, frmSatchel::AppTitle));
}

// A link that the keyboard reaches shows it, and Enter, Return or Space open it.
bool frmAbout::eventFilter(QObject* watched, QEvent* event)
{
    return guarded([&] {
        auto* const link =
            watched == m_website || watched == m_email ? static_cast<QLabel*>(watched) : nullptr;
        if (!link)
            return QDialog::eventFilter(watched, event);
        const qsizetype length = (link == m_website ? Website : Email).size();
        switch (event->type()) {
        case QEvent::FocusIn:
            if (static_cast<QFocusEvent*>(event)->reason() != Qt::MouseFocusReason)
                link->setSelection(0, static_cast<int>(length));
            break;
        case QEvent::FocusOut:
            link->setSelection(0, 0);
            break;
        case QEvent::KeyPress:
            switch (static_cast<QKeyEvent*>(event)->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_Space:
                link == m_website ? lblWebsite_Click() : lblEmail_Click();
                return true;
            default:
                break;
            }
            break;
        default:
            break;
        }
        return QDialog::eventFilter(watched, event);
    })();
}
