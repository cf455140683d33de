#include "browser/frmmain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QShortcut>

#include "browser/download.h"
#include "browser/listing.h"
#include "buildconfig.h"
#include "platform/errors.h"
#include "platform/msgbox.h"
#include "platform/session.h"
#include "platform/terminate.h"

namespace {

QRect twips(int left, int top, int width, int height) {
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

// The fixed-pitch Hangul face of the target systems, or one of the same kind.
QString pickFamily(std::initializer_list<const char*> candidates) {
    const QStringList families = QFontDatabase::families(QFontDatabase::Korean);
    for (const char* c : candidates) {
        const QString f = QString::fromUtf8(c);
        if (families.contains(f, Qt::CaseInsensitive)) return f;
    }
    return QString();
}

QFont hangulFont(bool fixedPitch, int points, bool bold) {
    const QString family = fixedPitch
                               ? pickFamily({"굴림체", "GulimChe", "NanumGothicCoding", "나눔고딕코딩"})
                               : pickFamily({"굴림", "Gulim", "NanumGothic", "나눔고딕"});
    QFont f(family.isEmpty() ? QFont().family() : family, points);
    if (fixedPitch) f.setStyleHint(QFont::Monospace);
    f.setBold(bold);
    return f;
}

// The locale's thousands separator (a locale without one groups with ",").
QChar groupSeparator() {
    const QString sep = QLocale::system().groupSeparator();
    return sep.isEmpty() ? QLatin1Char(',') : sep.at(0);
}

QString& ftpHost() {
    static QString h = QString::fromUtf8(buildconfig::kFtpHost);
    return h;
}
int& ftpPort() {
    static int p = 21;
    return p;
}

}  // namespace

void FrmMain::SetFtpServerForTests(const QString& host, int port) {
    ftpHost() = host.isEmpty() ? QString::fromUtf8(buildconfig::kFtpHost) : host;
    ftpPort() = port ? port : 21;
}

FrmMain::FrmMain(QWidget* parent) : QWidget(parent) {
    setWindowTitle(Caption());
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(9330 / 15, 4875 / 15);

    List1 = new QListWidget(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setGeometry(twips(60, 60, 9195, 3900));
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    List1->setSortingEnabled(false);
    List1->setUniformItemSizes(true);  // long listings lay out in one pass
    List1->setFont(hangulFont(true, 12, false));

    struct Hint {
        int index;
        const char* text;
        QRect rect;
        QColor colour;
    };
    const Hint hints[] = {
        {1, "내려받을 파일을 선택 후 더블클릭 하세요.", twips(90, 4065, 3960, 255), QColor(0, 0, 192)},
        {0, "리스트를 갱신할려면 리스트 갱신 버튼을 클릭하세요.", twips(90, 4340, 4980, 255), QColor(0, 0, 192)},
        {2, "내려받은 파일은 가급적 삭제하길 바랍니다.", twips(90, 4620, 4980, 255), QColor(0, 0, 192)},
        {3, "AS파일 업로드 비밀번호 : tk3391", twips(5280, 4080, 3960, 255), QColor(255, 0, 0)},
    };
    for (const Hint& h : hints) {
        auto* l = new QLabel(QString::fromUtf8(h.text), this);
        l->setObjectName(QStringLiteral("Label1_%1").arg(h.index));
        l->setGeometry(h.rect);
        l->setFont(hangulFont(true, 9, true));
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, h.colour);
        l->setPalette(p);
        l->setTextFormat(Qt::PlainText);
        Label1[h.index] = l;
    }

    cmdOK = new QPushButton(QStringLiteral("리스트 갱신"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setGeometry(twips(5235, 4365, 1365, 495));
    cmdOK->setFont(hangulFont(false, 9, true));

    cmdDelete = new QPushButton(QStringLiteral("파일삭제"), this);
    cmdDelete->setObjectName(QStringLiteral("cmdDelete"));
    cmdDelete->setGeometry(twips(6660, 4365, 1365, 495));
    cmdDelete->setFont(hangulFont(false, 9, true));

    CmdClose = new QPushButton(QStringLiteral("닫기"), this);
    CmdClose->setObjectName(QStringLiteral("CmdClose"));
    CmdClose->setGeometry(twips(8100, 4365, 1185, 495));

    // Tab order: list, close, refresh, delete (labels take no focus).
    setTabOrder(List1, CmdClose);
    setTabOrder(CmdClose, cmdOK);
    setTabOrder(cmdOK, cmdDelete);

    // CmdClose is the window's cancel button.
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    esc->setContext(Qt::WindowShortcut);
    connect(esc, &QShortcut::activated, CmdClose, &QPushButton::click);

    connect(CmdClose, &QPushButton::clicked, this, [this] { CmdClose_Click(); });
    connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
    connect(cmdDelete, &QPushButton::clicked, this, [this] { cmdDelete_Click(); });
    // Only a double-click downloads; no key starts a download.
    connect(List1, &QListWidget::itemDoubleClicked, this, [this] { List1_DblClick(); });

    // While the server is busy the window keeps repainting, so it never
    // shows as not responding; it takes no user input meanwhile.
    inet::SetWaitCallback([] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
}

FrmMain::~FrmMain() { Form_Unload(); }

void FrmMain::Show() {
    Form_Load();
    show();
}

void FrmMain::Form_Load() {
    List1->clear();
    hConnect.reset();
    hInternet.reset();
    RemoteFolder = QStringLiteral("as_files/");
    LocalFolder = QCoreApplication::applicationDirPath() + QStringLiteral("/AS파일");
    StartFtp();
}

void FrmMain::StartFtp() {
    const QFileInfo local(LocalFolder);
    if (!local.exists() && !QDir().mkpath(LocalFolder)) {
        // Downloads will fail with their own message; the list still works.
        platform::MsgBox(QStringLiteral("내려받을 폴더를 만들 수 없습니다.\r\n") + LocalFolder,
                         platform::MsgButtons::Ok, platform::MsgIcon::Exclamation, platform::AppTitle());
    }
    setCursor(Qt::WaitCursor);
    FtpConnect();
    if (hInternet && hConnect) {
        SetList();
    } else {
        platform::MsgBox(QStringLiteral("서버에 접속되어 있지 않습니다!"), platform::MsgButtons::Ok,
                         platform::MsgIcon::Information, platform::AppTitle());
    }
    unsetCursor();
}

void FrmMain::FtpConnect() {
    if (hInternet && hConnect) return;
    QString failure;
    hInternet = inet::InternetOpenA(QStringLiteral("ORVEL"), inet::INTERNET_OPEN_TYPE_DIRECT, QString(),
                                    QString(), inet::INTERNET_FLAG_NO_CACHE_WRITE);
    if (!hInternet) {
        failure = QStringLiteral("서버 접속 실패! - 세션단계");
    } else {
        hConnect = inet::InternetConnectA(hInternet.get(), ftpHost(), ftpPort(), QStringLiteral("qxasftp"),
                                          QStringLiteral("Kd38-47.2Wm"), inet::INTERNET_SERVICE_FTP, 0, 0);
        if (hConnect) return;
        failure = QStringLiteral("서버 접속 실패! - URL단계");
    }
    platform::MsgBox(failure, platform::MsgButtons::Ok, platform::MsgIcon::Exclamation, platform::AppTitle());
    inet::InternetCloseHandle(hInternet);
    platform::EndProgramNow(platform::ExitCode::FtpConnectFailed);
}

void FrmMain::FtpDisconnect() {
    // The connection always goes before the handle it belongs to.
    if (hConnect) inet::InternetCloseHandle(hConnect);
    if (hInternet) inet::InternetCloseHandle(hInternet);
}

void FrmMain::CmdClose_Click() { close(); }

void FrmMain::closeEvent(QCloseEvent* e) {
    // A close request that arrives while a command waits for the server is
    // refused: the command would otherwise run on in a destroyed window.
    if (m_busy > 0) {
        e->ignore();
        return;
    }
    Form_Unload();
    e->accept();
}

void FrmMain::Form_Unload() {
    if (m_unloaded) return;
    m_unloaded = true;
    FtpDisconnect();
}

QString FrmMain::SelectedName() const {
    const auto sel = List1->selectedItems();
    if (sel.isEmpty()) return QString();
    // Each line carries the entry's full name: a name with a blank is never
    // cut at the blank (which could name another file).
    return sel.first()->data(Qt::UserRole).toString();
}

void FrmMain::SetList() {
    if (!hInternet || !hConnect) {
        platform::MsgBox(QStringLiteral("서버에 연결되어 있지 않습니다."), platform::MsgButtons::Ok,
                         platform::MsgIcon::Information, platform::AppTitle());
        return;
    }
    List1->clear();
    const std::vector<browser::ListLine> lines =
        browser::ReadListLines(hConnect.get(), RemoteFolder, groupSeparator());
    List1->setUpdatesEnabled(false);
    for (const auto& l : lines) {
        auto* item = new QListWidgetItem(l.text);
        item->setData(Qt::UserRole, l.name);
        List1->addItem(item);
    }
    List1->setUpdatesEnabled(true);
}

void FrmMain::DownLoadSelected() {
    const Busy busy(m_busy);
    setCursor(Qt::WaitCursor);
    const QString name = SelectedName();
    if (name.isEmpty()) {
        unsetCursor();
        return;
    }
    setWindowTitle(Caption() + QStringLiteral("[") + name + QStringLiteral("] 다운로드 중..."));
    // A name from the server that could leave the local folder is never
    // written, whatever its last path component would be.
    bool ok = false;
    if (browser::IsSafeLocalName(name)) {
        ok = FileDownLoad(RemoteFolder + name, LocalFolder, QString());
    } else {
        platform::MsgBox(QStringLiteral("내려받을 수 없는 파일명입니다.\r\n\r\n") + name, platform::MsgButtons::Ok,
                         platform::MsgIcon::Exclamation, platform::AppTitle());
    }
    modMain::ShowMsg(ok ? QStringLiteral("파일다운로드가 완료되었습니다.")
                        : QStringLiteral("파일다운로드가 실패하였습니다."),
                     QString());
    setWindowTitle(Caption());
    unsetCursor();
}

bool FrmMain::FileDownLoad(const QString& remotePath, const QString& localFolder, QString localName) {
    return browser::FileDownLoad(hConnect.get(), remotePath, localFolder, localName);
}

void FrmMain::cmdDelete_Click() {
    const Busy busy(m_busy);
    setCursor(Qt::WaitCursor);
    const QString name = SelectedName();
    if (name.isEmpty()) {
        unsetCursor();
        return;
    }
    if (platform::MsgBox(QStringLiteral("정말 해당 파일을 삭제하시겠습니까?"), platform::MsgButtons::YesNo,
                         platform::MsgIcon::None, platform::AppTitle()) != platform::MsgAnswer::Yes) {
        unsetCursor();
        return;
    }
    setWindowTitle(Caption() + QStringLiteral("[") + name + QStringLiteral("] 삭제 중..."));
    if (hConnect && browser::DeleteRemoteFile(hConnect.get(), RemoteFolder + name)) {
        modMain::ShowMsg(QStringLiteral("파일이 삭제되었습니다."), QStringLiteral("확인"));
        cmdOK_Click();
    } else {
        modMain::ShowMsg(QStringLiteral("파일삭제가 실패하였습니다.") + QStringLiteral("\r\n\r\n") +
                             QStringLiteral("이미 파일이 삭제가 되어 있는경우도 있습니다.") +
                             QStringLiteral("\r\n\r\n") + QStringLiteral("리스트갱신버튼을 눌려 다시 확인하세요"),
                         QStringLiteral("확인"));
    }
    setWindowTitle(Caption());
    unsetCursor();
}

void FrmMain::cmdOK_Click() {
    const Busy busy(m_busy);
    setCursor(Qt::WaitCursor);
    SetList();
    unsetCursor();
}

void FrmMain::List1_DblClick() {
    if (!List1->selectedItems().isEmpty()) DownLoadSelected();
}
