#include "browser/frmmain.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QLocale>
#include <QShortcut>

#include "browser/download.h"
#include "browser/listing.h"
#include "browser/listmodel.h"
#include "buildconfig.h"
#include "core/errors.h"
#include "core/msgbox.h"
#include "core/session.h"
#include "core/terminate.h"
#include "formats/localname.h"
#include "ui_frmmain.h"

namespace {

const QString kModule = QStringLiteral("FrmMain");
constexpr auto kForm = core::ModuleKind::Form;
// The caption at rest; commands show their status after it.
const QString kCaption = QStringLiteral("데이터 리스트");

// frmmain.ui names the Hangul faces of the target systems; where they are
// missing, the nearest installed faces of the same kind stand in.
void substituteHangulFaces() {
    static const bool done = [] {
        QFont::insertSubstitutions(QStringLiteral("굴림체"),
                                   {QStringLiteral("GulimChe"), QStringLiteral("NanumGothicCoding"),
                                    QStringLiteral("나눔고딕코딩")});
        QFont::insertSubstitutions(QStringLiteral("굴림"), {QStringLiteral("Gulim"), QStringLiteral("NanumGothic"),
                                                            QStringLiteral("나눔고딕")});
        return true;
    }();
    (void)done;
}

// The locale's thousands separator (a locale without one groups with ",").
QChar groupSeparator() {
    const QString sep = QLocale::system().groupSeparator();
    return sep.isEmpty() ? QLatin1Char(',') : sep.at(0);
}

// `caption` as a window title that shows it as it reads. Qt takes "[*]"
// for its mark of unsaved changes and drops it unless doubled; the whole
// caption is doubled, since a name's "*]" can close the caption's "[".
QString literalTitle(const QString& caption) {
    return QString(caption).replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
}

}  // namespace

FrmMain::FrmMain(FrmMainEndpoints endpoints, QWidget* parent)
    : QMainWindow(parent),
      ui(std::make_unique<Ui::FrmMain>()),
      m_lines(new browser::ListModel(this)),
      m_endpoints(std::move(endpoints)) {
    if (m_endpoints.ftpHost.isEmpty()) m_endpoints.ftpHost = QString::fromUtf8(buildconfig::kFtpHost);
    if (m_endpoints.localFolder.isEmpty())
        m_endpoints.localFolder = QCoreApplication::applicationDirPath() + QStringLiteral("/AS파일");
    substituteHangulFaces();
    ui->setupUi(this);
    ui->List1->setModel(m_lines);
    // A fixed single border: no maximize, no minimize, no resizing.
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    // CmdClose is the window's cancel button.
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    esc->setContext(Qt::WindowShortcut);
    connect(esc, &QShortcut::activated, ui->CmdClose, &QPushButton::click);

    connect(ui->CmdClose, &QPushButton::clicked, this, [this] { CmdClose_Click(); });
    // While a command waits for its transfer the window takes no user input,
    // but assistive technology can still press a button: a second command is
    // refused rather than run inside the first.
    connect(ui->cmdOK, &QPushButton::clicked, this, [this] { if (!m_busy) cmdOK_Click(); });
    connect(ui->cmdDelete, &QPushButton::clicked, this, [this] { if (!m_busy) cmdDelete_Click(); });
    // Only a double-click downloads; no key starts a download.
    connect(ui->List1, &QAbstractItemView::doubleClicked, this, [this] { if (!m_busy) List1_DblClick(); });

    // While the server is busy the window keeps repainting, so it never
    // shows as not responding; it takes no user input meanwhile.
    net::SetWaitCallback([] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
}

FrmMain::~FrmMain() { Form_Unload(); }

void FrmMain::Show() {
    Form_Load();
    show();
}

void FrmMain::Form_Load() {
    m_lines->clear(groupSeparator());
    hConnect.reset();
    hInternet.reset();
    RemoteFolder = QStringLiteral("as_files/");
    LocalFolder = m_endpoints.localFolder;
    StartFtp();
}

void FrmMain::StartFtp() {
    const QFileInfo local(LocalFolder);
    if (!local.exists() && !QDir().mkpath(LocalFolder)) {
        // Downloads will fail with their own message; the list still works.
        core::MsgBox(QStringLiteral("내려받을 폴더를 만들 수 없습니다.\r\n") + QDir::toNativeSeparators(LocalFolder),
                         core::MsgButtons::Ok, core::MsgIcon::Exclamation, core::AppTitle());
    }
    setCursor(Qt::WaitCursor);
    FtpConnect();
    if (hInternet && hConnect) {
        SetList();
    } else {
        core::MsgBox(QStringLiteral("서버에 접속되어 있지 않습니다!"), core::MsgButtons::Ok,
                         core::MsgIcon::Information, core::AppTitle());
    }
    unsetCursor();
}

void FrmMain::FtpConnect() {
    if (hInternet && hConnect) return;
    QString failure;
    hInternet = net::InternetOpenA(QStringLiteral("ORVEL"), net::INTERNET_OPEN_TYPE_DIRECT, QString(),
                                    QString(), net::INTERNET_FLAG_NO_CACHE_WRITE);
    if (!hInternet) {
        failure = QStringLiteral("서버 접속 실패! - 세션단계");
    } else {
        hConnect = net::InternetConnectA(hInternet.get(), m_endpoints.ftpHost, m_endpoints.ftpPort,
                                          QStringLiteral("qxasftp"), QStringLiteral("Kd38-47.2Wm"),
                                          net::INTERNET_SERVICE_FTP, 0, 0);
        if (hConnect) return;
        failure = QStringLiteral("서버 접속 실패! - URL단계");
    }
    core::MsgBox(failure, core::MsgButtons::Ok, core::MsgIcon::Exclamation, core::AppTitle());
    net::InternetCloseHandle(hInternet);
    core::EndProgramNow(core::ExitCode::FtpConnectFailed);
}

void FrmMain::FtpDisconnect() {
    // The connection always goes before the handle it belongs to.
    if (hConnect) net::InternetCloseHandle(hConnect);
    if (hInternet) net::InternetCloseHandle(hInternet);
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

int FrmMain::SelectedRow() const {
    const QModelIndexList sel = ui->List1->selectionModel()->selectedIndexes();
    return sel.isEmpty() ? -1 : sel.first().row();
}

void FrmMain::SetList() {
    if (!hInternet || !hConnect) {
        core::MsgBox(QStringLiteral("서버에 연결되어 있지 않습니다."), core::MsgButtons::Ok,
                         core::MsgIcon::Information, core::AppTitle());
        return;
    }
    // The listing runs on a worker while this thread waits: the window must
    // not close under it (the load's first listing counts too).
    const Busy busy(m_busy);
    // A failure is reported; the list shows what was adopted before it.
    browser::ListResult result = browser::ListResult::Whole;
    core::TrapErrors(QStringLiteral("SetList"), kModule, kForm, [&] {
        result = browser::ListInto(hConnect.get(), RemoteFolder, groupSeparator(), *m_lines);
    });
    if (result == browser::ListResult::Cut) {
        // Beyond what a list keeps (browser::ListLimits) the user learns the
        // list is not the whole folder.
        const QString shown = QLocale::system().toString(m_lines->rowCount());
        core::MsgBox(QStringLiteral("파일이 너무 많아 처음 %1개만 표시합니다.").arg(shown), core::MsgButtons::Ok,
                         core::MsgIcon::Information, core::AppTitle());
    }
}

void FrmMain::DownLoadSelected() {
    const Busy busy(m_busy);
    setCursor(Qt::WaitCursor);
    core::TrapErrors(QStringLiteral("DownLoadSelected"), kModule, kForm, [&] {
        const int row = SelectedRow();
        const QString name = m_lines->name(row);
        if (name.isEmpty()) return;
        // The transfer names the file by this line's own bytes.
        const browser::LineInUse line(hConnect.get(), RemoteFolder, name, m_lines->rawName(row));
        setWindowTitle(literalTitle(kCaption + QStringLiteral("[") + name + QStringLiteral("] 다운로드 중...")));
        // A name from the server that could leave the local folder is never
        // written, whatever its last path component would be.
        bool ok = false;
        if (browser::IsSafeLocalName(name)) {
            ok = FileDownLoad(RemoteFolder + name, LocalFolder, QString());
        } else {
            core::MsgBox(QStringLiteral("내려받을 수 없는 파일명입니다.\r\n\r\n") + formats::VisibleName(name),
                             core::MsgButtons::Ok, core::MsgIcon::Exclamation, core::AppTitle());
        }
        modMain::ShowMsg(ok ? QStringLiteral("파일다운로드가 완료되었습니다.")
                            : QStringLiteral("파일다운로드가 실패하였습니다."),
                         QString());
    });
    setWindowTitle(kCaption);
    unsetCursor();
}

bool FrmMain::FileDownLoad(const QString& remotePath, const QString& localFolder, const QString& localName) {
    // The names listed beside it: on Windows two that differ only in case
    // would be written to one file. Only those that could clash matter.
    const QString name = remotePath.mid(RemoteFolder.size());
    QStringList listed;
    for (int i = 0; i < m_lines->rowCount(); ++i) {
        const QStringView other = m_lines->nameView(i);
        if (other.compare(name, Qt::CaseInsensitive) == 0) listed << other.toString();
    }
    return browser::FileDownLoad(hConnect.get(), remotePath, localFolder, localName, listed);
}

void FrmMain::cmdDelete_Click() {
    const Busy busy(m_busy);
    setCursor(Qt::WaitCursor);
    core::TrapErrors(QStringLiteral("cmdDelete_Click"), kModule, kForm, [&] {
        const int row = SelectedRow();
        const QString name = m_lines->name(row);
        if (name.isEmpty()) return;
        const browser::LineInUse line(hConnect.get(), RemoteFolder, name, m_lines->rawName(row));
        if (core::MsgBox(QStringLiteral("정말 해당 파일을 삭제하시겠습니까?"), core::MsgButtons::YesNo,
                             core::MsgIcon::None, core::AppTitle()) != core::MsgAnswer::Yes)
            return;
        setWindowTitle(literalTitle(kCaption + QStringLiteral("[") + name + QStringLiteral("] 삭제 중...")));
        if (hConnect && browser::DeleteRemoteFile(hConnect.get(), RemoteFolder + name)) {
            modMain::ShowMsg(QStringLiteral("파일이 삭제되었습니다."), QStringLiteral("확인"));
            cmdOK_Click();
        } else {
            modMain::ShowMsg(QStringLiteral("파일삭제가 실패하였습니다.") + QStringLiteral("\r\n\r\n") +
                                 QStringLiteral("이미 파일이 삭제가 되어 있는경우도 있습니다.") +
                                 QStringLiteral("\r\n\r\n") +
                                 QStringLiteral("리스트갱신버튼을 눌려 다시 확인하세요"),
                             QStringLiteral("확인"));
        }
    });
    setWindowTitle(kCaption);
    unsetCursor();
}

void FrmMain::cmdOK_Click() {
    const Busy busy(m_busy);
    setCursor(Qt::WaitCursor);
    SetList();
    unsetCursor();
}

void FrmMain::List1_DblClick() {
    if (SelectedRow() >= 0) DownLoadSelected();
}
