#pragma once
// The main window: one FTP session for its whole life, the listing of the
// remote folder, download into the local folder and deletion on the server.
#include <QWidget>

#include "platform/inet.h"

class QListWidget;
class QLabel;
class QPushButton;

class FrmMain : public QWidget {
    Q_OBJECT
public:
    explicit FrmMain(QWidget* parent = nullptr);
    ~FrmMain() override;

    // Loads the window (local folder, FTP session, first listing) and shows
    // it. A session that cannot be opened ends the program inside.
    void Show();

    // The window's state.
    inet::HInternet hInternet;
    inet::HInternet hConnect;
    QString RemoteFolder;
    QString LocalFolder;

    // Controls, reachable by tests.
    QListWidget* List1 = nullptr;
    QLabel* Label1[4] = {nullptr, nullptr, nullptr, nullptr};
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdDelete = nullptr;
    QPushButton* CmdClose = nullptr;

    // Commands (public so that tests drive them as the user would).
    void SetList();
    void DownLoadSelected();
    bool FileDownLoad(const QString& remotePath, const QString& localFolder, QString localName);
    void cmdDelete_Click();
    void cmdOK_Click();
    void List1_DblClick();
    void CmdClose_Click();

    // Caption at rest.
    static QString Caption() { return QStringLiteral("데이터 리스트"); }
    // The FTP server's host name (a build setting); tests point it elsewhere.
    static void SetFtpServerForTests(const QString& host, int port);

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void Form_Load();
    void Form_Unload();
    void StartFtp();
    void FtpConnect();
    void FtpDisconnect();
    QString SelectedName() const;

    bool m_unloaded = false;
    int m_busy = 0;  // commands under way
    struct Busy {
        explicit Busy(int& n) : n_(n) { ++n_; }
        ~Busy() { --n_; }
        int& n_;
    };
};
