#include "app/frmPacifier.h"

#include "base/ByteSize.h"
#include "controller/ResizeForm.h"
#include "desktop/QtDesktop.h"
#include "diag/ErrorTrap.h"

#include <QLabel>

frmPacifier::frmPacifier()
    : QDialog(nullptr,
              Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_image(new QLabel(this)), m_pacifierText(new QLabel(this)), m_bytes(new QLabel(this))
{
    setObjectName(QStringLiteral("frmPacifier"));
    setWindowTitle(tr("TS Satchel"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAutoFillBackground(true);
    setPalette(whitePalette(palette()));
    setFixedSize(toPixelsX(9015), toPixelsY(2040));
    m_image->setObjectName(QStringLiteral("Image1"));
    m_image->setGeometry(0, 0, toPixelsX(9015), toPixelsY(1215));
    m_image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_pacifierText->setObjectName(QStringLiteral("pacifierText"));
    m_pacifierText->setAccessibleName(tr("Status"));
    m_pacifierText->setGeometry(toPixelsX(120), toPixelsY(1320), toPixelsX(8775), toPixelsY(615));
    m_pacifierText->setAutoFillBackground(true);
    m_pacifierText->setWordWrap(true);
    m_pacifierText->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_bytes->setObjectName(QStringLiteral("bytesDone"));
    m_bytes->setAccessibleName(tr("Bytes done"));
    m_bytes->setGeometry(toPixelsX(120), toPixelsY(1935), toPixelsX(8775), fontMetrics().height() + 4);
    m_bytes->hide();
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
    // The whole window is centred, title bar and borders included.
    const QtScreen screen;
    m_centredFrame = frameGeometry().size();
    const double widthTwips = m_centredFrame.width() * screen.twipsPerPixelX();
    const double heightTwips = m_centredFrame.height() * screen.twipsPerPixelY();
    const int left = centerOnScreenCoordinate(screen.widthTwips(), widthTwips);
    const int top = centerOnScreenCoordinate(screen.heightTwips(), heightTwips);
    move(qRound(left / screen.twipsPerPixelX()), qRound(top / screen.twipsPerPixelY()));
}

void frmPacifier::moveEvent(QMoveEvent* event)
{
    guarded([&] {
        QDialog::moveEvent(event);
        // The frame's size is known only once the window manager has framed the window.
        if (m_loaded && isVisible() && frameGeometry().size() != m_centredFrame)
            CenterOnScreen();
    })();
}

void frmPacifier::Show()
{
    if (!m_loaded)
        Form_Load();
    show();
    if (frameGeometry().size() != m_centredFrame)
        CenterOnScreen();
    raise();
}

void frmPacifier::setStatus(const QString& text)
{
    m_pacifierText->setText(text);
    m_pacifierText->repaint();
}

void frmPacifier::setBytes(qint64 done, qint64 total)
{
    if (total <= 0)
        return;
    const QString text = tr("%1 of %2").arg(byteSizeText(done), byteSizeText(total));
    if (text == m_bytes->text())
        return;
    if (m_bytes->isHidden()) {
        setFixedSize(toPixelsX(9015), toPixelsY(2040) + m_bytes->height());
        m_bytes->show();
        if (isVisible())
            CenterOnScreen();
    }
    m_bytes->setText(text);
    m_bytes->repaint();
}

void frmPacifier::Close()
{
    setWindowFlag(Qt::WindowStaysOnTopHint, false);
    hide();
    m_pacifierText->clear();
    m_bytes->clear();
    m_bytes->hide();
    setFixedSize(toPixelsX(9015), toPixelsY(2040));
    m_loaded = false;
}
