#pragma once

#include "outside/IProgressWindow.h"

#include <QDialog>

class QLabel;

// The progress window of a build: a banner and one status line, on top of every other window,
// centred on the screen; no buttons and no way to cancel, Esc and the title bar's close included:
// only the build closes it.
class frmPacifier final : public QDialog, public IProgressWindow
{
    Q_OBJECT

public:
    frmPacifier();
    ~frmPacifier() override;

    void Show() override;
    void SetStatus(const QString& text) override;
    void Close() override;
    void reject() override {}

protected:
    void moveEvent(QMoveEvent* event) override;

private:
    void Form_Load();
    void CenterOnScreen();

    QLabel* m_image;
    QLabel* m_pacifierText;
    QSize m_centredFrame; // the frame's size when it was last centred
    bool m_loaded = false;
};
