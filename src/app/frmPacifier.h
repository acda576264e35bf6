#pragma once

#include "outside/IProgressWindow.h"

#include <QDialog>

class QLabel;

// The progress window of a build: a banner, one status line and, for a long step, the bytes done,
// on top of every other window,
// centred on the screen; no buttons and no way to cancel, Esc and the title bar's close included:
// only the build closes it.
class frmPacifier final : public QDialog, public IProgressWindow
{
    Q_OBJECT

public:
    frmPacifier();
    ~frmPacifier() override;

    void Show() override;
    void setStatus(const QString& text) override;
    // The bytes packed so far and the bytes found, on a line of their own under the status: the
    // window grows by that line when the first count comes.
    void setBytes(qint64 done, qint64 total) override;
    void Close() override;
    void reject() override {}

protected:
    void moveEvent(QMoveEvent* event) override;

private:
    void Form_Load();
    void CenterOnScreen();

    QLabel* m_image;
    QLabel* m_pacifierText;
    QLabel* m_bytes;
    QSize m_centredFrame; // the frame's size when it was last centred
    bool m_loaded = false;
};
