#pragma once

#include "package/PackageOptions.h"

#include <QDialog>

class QBoxLayout;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

// The Options dialog (File > Options...): what the packages built in the main window hold beyond
// the plain package: secrets masked, and the log files newest first within an age and a size; and
// where File > Upload Package... sends a package. An upload URL that is not an http or https
// address keeps OK disabled.
// Modal, centred over its owner. It only shows and collects the options; the main window's
// controller reads and keeps them.
class frmOptions final : public QDialog
{
    Q_OBJECT

public:
    frmOptions(QWidget* owner, const SavedPackageOptions& options);

    SavedPackageOptions options() const;

private:
    QSpinBox* limit(QBoxLayout* box, QCheckBox* check, int value, int low, int high,
                    const QString& accessibleName, const QString& unit, const QString& after);

    QCheckBox* m_mask = nullptr;
    QCheckBox* m_byAge = nullptr;
    QSpinBox* m_days = nullptr;
    QCheckBox* m_bySize = nullptr;
    QSpinBox* m_megabytes = nullptr;
    QLineEdit* m_uploadUrl = nullptr;
    QLineEdit* m_tokenFile = nullptr;
    QLineEdit* m_caCert = nullptr;
};
