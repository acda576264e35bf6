#pragma once

#include <QDialog>

#include <functional>

class QBoxLayout;
class QLabel;

// The About box: the program's title and version, the maker's contact details, and two links
// (web address and support e-mail) handed to the desktop. Modal, centred over its owner, with a
// fixed frame as large as its design, larger where the desktop's font needs the room.
class frmAbout final : public QDialog
{
    Q_OBJECT

public:
    explicit frmAbout(QWidget* owner, std::function<bool(const QString&)> open = {});

    // "6.1 Build 400" for file version 6.1.0.400.
    static QString versionText(int major, int minor, int revision);
    // "mailto:" + address + "?Subject=" + title + "&Body=", nothing percent-encoded.
    static QString mailtoText(const QString& address, const QString& title);

    static const QString Website;
    static const QString Email;

    void lblWebsite_Click();
    void lblEmail_Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Form_Load();
    QLabel* label(QBoxLayout* layout, const char* name, double heightTwips, Qt::Alignment alignment);
    QLabel* link(QBoxLayout* layout, const char* name, const QString& address, const QString& accessibleName);

    std::function<bool(const QString&)> m_open;
    QLabel* m_website = nullptr;
    QLabel* m_email = nullptr;
};
