#pragma once
// The main window: one FTP session for its whole life, the listing of the
// remote folder, download into the local folder and deletion on the server.
// Its look (geometry, texts, colours, fonts, tab order) is frmmain.ui; this
// class holds the behaviour.
#include <QMainWindow>
#include <memory>

#include "net/inet.h"

namespace Ui {
class FrmMain;
}
namespace browser {
class ListModel;
}

// Where the window connects and where downloads land. The program uses the
// defaults; tests point them elsewhere.
struct FrmMainEndpoints {
    QString ftpHost;      // empty: the FTP server built into the program
    int ftpPort = 21;
    QString localFolder;  // empty: "AS파일" beside the program
};

class FrmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit FrmMain(FrmMainEndpoints endpoints = {}, QWidget* parent = nullptr);
    ~FrmMain() override;

    // Loads the window (local folder, FTP session, first listing) and shows
    // it. A session that cannot be opened ends the program inside.
    void Show();

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void Form_Load();
    void Form_Unload();
    void StartFtp();
    void FtpConnect();
    void FtpDisconnect();
    void SetList();
    void DownLoadSelected();
    bool FileDownLoad(const QString& remotePath, const QString& localFolder, const QString& localName);
    void cmdDelete_Click();
    void cmdOK_Click();
    void List1_DblClick();
    void CmdClose_Click();
    int SelectedRow() const;  // -1: no line selected

    std::unique_ptr<Ui::FrmMain> ui;
    browser::ListModel* m_lines;  // what List1 shows
    FrmMainEndpoints m_endpoints;
    net::HInternet hInternet;
    net::HInternet hConnect;
    QString RemoteFolder;
    QString LocalFolder;

    bool m_unloaded = false;
    int m_busy = 0;  // commands under way
    struct Busy {
        explicit Busy(int& n) : n_(n) { ++n_; }
        ~Busy() { --n_; }
        int& n_;
    };
};
