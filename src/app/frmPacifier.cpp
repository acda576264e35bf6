#include "app/frmPacifier.h"

#include "app/ResizeForm.h"
#include "platform/qt/QtDesktop.h"

#include <QLabel>
#include <QScreen>

namespace {

// Twips to pixels on the primary screen.
int px(double twips, bool horizontal)
{
    const QtScreen screen;
    return qRound(twips / (horizontal ? screen.TwipsPerPixelX() : screen.TwipsPerPixelY()));
}

} // namespace

frmPacifier::frmPacifier()
    : QDialog(nullptr,
              Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_image(new QLabel(this)), m_pacifierText(new QLabel(this))
{
    setObjectName(QStringLiteral("frmPacifier"));
    setWindowTitle(QStringLiteral("TS Satchel"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setFixedSize(px(9015, true), px(2040, false));
    m_image->setObjectName(QStringLiteral("Image1"));
    m_image->setGeometry(0, 0, px(9015, true), px(1215, false));
    m_image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_pacifierText->setObjectName(QStringLiteral("pacifierText"));
    m_pacifierText->setGeometry(px(120, true), px(1320, false), px(8775, true), px(615, false));
    m_pacifierText->setAutoFillBackground(true);
    m_pacifierText->setPalette(white);
    m_pacifierText->setWordWrap(true);
    m_pacifierText->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

frmPacifier::~frmPacifier() = default;

void frmPacifier::Form_Load()
{
    CenterOnScreen();
    // The banner; a picture that cannot be loaded leaves the area empty.
    m_image->setPixmap(QPixmap(QStringLiteral(":/pictures/banner101.bmp")));
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    m_loaded = true;
}

void frmPacifier::CenterOnScreen()
{
    const QtScreen screen;
    const double widthTwips = width() * screen.TwipsPerPixelX();
    const double heightTwips = height() * screen.TwipsPerPixelY();
    const int left = CenterOnScreenCoordinate(screen.WidthTwips(), widthTwips);
    const int top = CenterOnScreenCoordinate(screen.HeightTwips(), heightTwips);
    move(qRound(left / screen.TwipsPerPixelX()), qRound(top / screen.TwipsPerPixelY()));
}

void frmPacifier::Show()
{
    if (!m_loaded)
        Form_Load();
    show();
    raise();
}

void frmPacifier::SetStatus(const QString& text)
{
    m_pacifierText->setText(text);
    m_pacifierText->repaint();
}

QString frmPacifier::statusText() const
{
    return m_pacifierText->text();
}

void frmPacifier::Close()
{
    setWindowFlag(Qt::WindowStaysOnTopHint, false);
    hide();
    m_pacifierText->clear();
    m_loaded = false;
}
