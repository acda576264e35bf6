#pragma once

#include "controller/frmSatchel.h"

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

// The progress window of File > Upload Package...: the package's name, the bytes the server holds
// and the rate, and a Cancel button (Esc and the title bar's close cancel too). Cancelling keeps
// the upload's state, so the next upload of the same package goes on where this one stopped. Only
// the upload's end closes it.
class frmUpload final : public QDialog
{
    Q_OBJECT

public:
    frmUpload(QWidget* owner, const QString& packageName);

    void setBytes(qint64 done, qint64 total, double bytesPerSecond);
    void setNote(const QString& text);
    void reject() override;
    bool cancelling() const { return m_cancelling; }

Q_SIGNALS:
    void cancelRequested();

private:
    QLabel* m_status;
    QProgressBar* m_bar;
    QLabel* m_bytes;
    QPushButton* m_cancel;
    bool m_cancelling = false;
};

// Sends the package to the server with the progress window over owner; the words of the
// outcome for the person.
UploadResult sendPackageWithProgress(QWidget* owner, const PackageUpload& upload);
