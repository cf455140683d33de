// The main window against the real FTP servers of the test environment.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTemporaryDir>
#include <QProcess>
#include <QApplication>
#include <QPointer>
#include <algorithm>
#include <ctime>

#include "browser/frmmain.h"
#include "platform/errors.h"
#include "testsupport.h"

using namespace testsupport;
using platform::MsgAnswer;
using platform::MsgIcon;

namespace {

const QString kHome = QString::fromUtf8(testenv::ftp::kHome) + QStringLiteral("/as_files/");
const QString kOk = QStringLiteral("파일다운로드가 완료되었습니다.");
const QString kFail = QStringLiteral("파일다운로드가 실패하였습니다.");
const QString kNotFound = QStringLiteral("FTP서버에 저장된 파일을 찾을 수 없습니다.");
const QString kReadFail = QStringLiteral("FTP파일 읽기에 실패했습니다.");
const QString kDeleteFail = QStringLiteral(
    "파일삭제가 실패하였습니다.\r\n\r\n이미 파일이 삭제가 되어 있는경우도 있습니다.\r\n\r\n"
    "리스트갱신버튼을 눌려 다시 확인하세요");

void setTz(const char* tz) {
    qputenv("TZ", tz);
    ::tzset();
}

QByteArray sha(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(&f);
    return h.result().toHex();
}

QString localDir() { return QCoreApplication::applicationDirPath() + QStringLiteral("/AS파일"); }

void writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

QStringList lines(const FrmMain& w) {
    QStringList out;
    for (int i = 0; i < w.List1->count(); ++i) out << w.List1->item(i)->text();
    return out;
}

bool select(FrmMain& w, const QString& name) {
    for (int i = 0; i < w.List1->count(); ++i)
        if (w.List1->item(i)->data(Qt::UserRole).toString() == name) {
            w.List1->setCurrentRow(i);
            return true;
        }
    return false;
}

class Window : public ::testing::Test {
protected:
    void SetUp() override {
        setTz("UTC-9");
        FrmMain::SetFtpServerForTests(QString::fromUtf8(testenv::kHost), testenv::ftp::kMain.port);
    }
    void TearDown() override {
        FrmMain::SetFtpServerForTests(QString(), 0);
        setTz("UTC");
    }
};

TEST_F(Window, LayoutTextsAndFonts) {
    ScriptedMsgBoxes boxes;
    FrmMain w;
    w.Show();
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_EQ(w.windowTitle(), QStringLiteral("데이터 리스트"));
    EXPECT_EQ(w.size(), QSize(622, 325));
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(w.List1->geometry(), QRect(4, 4, 613, 260));
    EXPECT_EQ(w.cmdOK->geometry(), QRect(349, 291, 91, 33));
    EXPECT_EQ(w.cmdDelete->geometry(), QRect(444, 291, 91, 33));
    EXPECT_EQ(w.CmdClose->geometry(), QRect(540, 291, 79, 33));
    EXPECT_EQ(w.Label1[1]->geometry(), QRect(6, 271, 264, 17));
    EXPECT_EQ(w.Label1[3]->geometry(), QRect(352, 272, 264, 17));
    EXPECT_EQ(w.Label1[1]->text(), QStringLiteral("내려받을 파일을 선택 후 더블클릭 하세요."));
    EXPECT_EQ(w.Label1[0]->text(), QStringLiteral("리스트를 갱신할려면 리스트 갱신 버튼을 클릭하세요."));
    EXPECT_EQ(w.Label1[2]->text(), QStringLiteral("내려받은 파일은 가급적 삭제하길 바랍니다."));
    EXPECT_EQ(w.Label1[3]->text(), QStringLiteral("AS파일 업로드 비밀번호 : tk3391"));
    EXPECT_EQ(w.Label1[0]->palette().color(QPalette::WindowText), QColor(0, 0, 192));
    EXPECT_EQ(w.Label1[3]->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_TRUE(w.Label1[0]->font().bold());
    EXPECT_EQ(w.List1->font().pointSize(), 12);
    // A fixed-pitch Hangul face, so the size column lines up under Hangul names.
    EXPECT_TRUE(QStringList({QStringLiteral("굴림체"), QStringLiteral("NanumGothicCoding")})
                    .contains(QFontInfo(w.List1->font()).family()))
        << QFontInfo(w.List1->font()).family().toStdString();
    EXPECT_EQ(w.cmdOK->text(), QStringLiteral("리스트 갱신"));
    EXPECT_EQ(w.cmdDelete->text(), QStringLiteral("파일삭제"));
    EXPECT_EQ(w.CmdClose->text(), QStringLiteral("닫기"));
    EXPECT_EQ(w.List1->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_TRUE(QDir(localDir()).exists());
    auto nextTab = [](QWidget* x) {
        do x = x->nextInFocusChain();
        while (!(x->focusPolicy() & Qt::TabFocus));
        return x;
    };
    EXPECT_EQ(nextTab(w.List1), w.CmdClose);
    EXPECT_EQ(nextTab(w.CmdClose), w.cmdOK);
    EXPECT_EQ(nextTab(w.cmdOK), w.cmdDelete);
}

TEST_F(Window, ListsTheFolderInTheServersOrderWithLocalTimes) {
    ScriptedMsgBoxes boxes;
    FrmMain w;
    w.Show();
    const QStringList l = lines(w);
    EXPECT_TRUE(l.contains(QStringLiteral("report.zip 2024-03-07 09시 05분    12,056 Kb"))) << l.join('\n').toStdString();
    // 23:59:59 UTC is the next morning at UTC+9.
    EXPECT_TRUE(std::any_of(l.begin(), l.end(), [](const QString& s) {
        return s.startsWith(QStringLiteral("utc2359.txt 2024-03-08 08시 59분"));
    }));
    auto lineOf = [&](const QString& name) {
        for (const QString& s : l)
            if (s.startsWith(name + QLatin1Char(' '))) return s;
        return QString();
    };
    EXPECT_TRUE(lineOf(QStringLiteral("with blank.txt")).endsWith(QStringLiteral("         0 Kb")));
    EXPECT_TRUE(lineOf(QStringLiteral("512.bin")).endsWith(QStringLiteral("         1 Kb")));
    EXPECT_TRUE(lineOf(QStringLiteral("1536.bin")).endsWith(QStringLiteral("         2 Kb")));
    EXPECT_TRUE(lineOf(QStringLiteral("empty.txt")).endsWith(QStringLiteral("         0 Kb")));
    EXPECT_TRUE(lineOf(QStringLiteral("big5g.iso")).endsWith(QStringLiteral(" 5,242,880 Kb")));
    EXPECT_FALSE(lineOf(QStringLiteral("sub")).isEmpty());  // folders are listed like files
    EXPECT_FALSE(lineOf(QStringLiteral("견적서_2024.xlsx")).isEmpty());
    // Every line carries its full name.
    EXPECT_TRUE(select(w, QStringLiteral("with blank.txt")));

    setTz("UTC");
    w.cmdOK_Click();
    EXPECT_TRUE(lines(w).contains(QStringLiteral("report.zip 2024-03-07 00시 05분    12,056 Kb")));
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(Window, EmptyFolderAndDroppedIdleSession) {
    ScriptedMsgBoxes boxes;
    FrmMain::SetFtpServerForTests(QString::fromUtf8(testenv::kHost), testenv::ftp::kEmpty.port);
    {
        FrmMain w;
        w.Show();
        EXPECT_EQ(w.List1->count(), 0);
    }
    // The server drops the session after 2 s of silence; the refresh still lists.
    FrmMain::SetFtpServerForTests(QString::fromUtf8(testenv::kHost), testenv::ftp::kIdle.port);
    FrmMain w;
    w.Show();
    const int n = w.List1->count();
    EXPECT_GT(n, 5);
    QTest::qWait(3500);
    w.cmdOK_Click();
    EXPECT_EQ(w.List1->count(), n);
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(Window, FailedSessionEndsTheProgramAfterCreatingTheFolder) {
    QDir(localDir()).removeRecursively();
    for (int port : {testenv::kClosedPort, 0}) {
        ScriptedMsgBoxes boxes;
        InterceptEnd end;
        if (port) FrmMain::SetFtpServerForTests(QString::fromUtf8(testenv::kHost), port);
        else FrmMain::SetFtpServerForTests(QStringLiteral("no-such-host.invalid"), testenv::ftp::kMain.port);
        FrmMain w;
        try {
            w.Show();
            FAIL() << "window opened";
        } catch (const ProgramEnded& e) {
            EXPECT_EQ(e.code, platform::ExitCode::FtpConnectFailed);
        }
        EXPECT_FALSE(w.isVisible());
        ASSERT_EQ(boxes.shown().size(), 1u);
        EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("서버 접속 실패! - URL단계"));
        EXPECT_EQ(boxes.shown()[0].icon, MsgIcon::Exclamation);
        EXPECT_TRUE(QDir(localDir()).exists());
    }
}

TEST_F(Window, ClosingByButtonEscAndFrame) {
    ScriptedMsgBoxes boxes;
    for (int way = 0; way < 3; ++way) {
        auto* w = new FrmMain;
        w->setAttribute(Qt::WA_DeleteOnClose);
        QPointer<FrmMain> alive(w);
        w->Show();
        QApplication::setActiveWindow(w);
        if (way == 0) w->CmdClose->click();
        else if (way == 1) QTest::keyClick(w->List1, Qt::Key_Escape);
        else w->close();
        QTest::qWait(20);
        EXPECT_TRUE(alive.isNull()) << way;
    }
    EXPECT_TRUE(boxes.shown().empty());
}

class Transfers : public Window {};

TEST_F(Transfers, DownloadsArriveWholeAndReplaceTheOldCopy) {
    ScriptedMsgBoxes boxes;
    FrmMain w;
    w.Show();
    for (const QString& name : {QStringLiteral("empty.txt"), QStringLiteral("견적서_2024.xlsx"),
                               QStringLiteral("2048.bin"), QStringLiteral("with blank.txt"),
                               QStringLiteral("report.zip")}) {
        const QString local = localDir() + QLatin1Char('/') + name;
        // An older, longer copy must be replaced, never appended to.
        writeFile(local, QByteArray(20000, 'x'));
        boxes.clear();
        ASSERT_TRUE(select(w, name));
        w.List1_DblClick();
        EXPECT_EQ(boxes.texts(), std::vector<QString>{kOk}) << name.toStdString();
        EXPECT_EQ(sha(local), sha(kHome + name)) << name.toStdString();
        EXPECT_EQ(w.windowTitle(), FrmMain::Caption());
        EXPECT_EQ(w.List1->currentItem()->data(Qt::UserRole).toString(), name);  // selection kept
    }
    EXPECT_EQ(boxes.shown().back().icon, MsgIcon::Information);
    // No temporary files stay behind.
    EXPECT_TRUE(QDir(localDir()).entryList({QStringLiteral("*.*.*")}, QDir::Files | QDir::Hidden).isEmpty());
}

TEST_F(Transfers, WhatCannotBeDownloadedLeavesTheFolderAlone) {
    ScriptedMsgBoxes boxes;
    FrmMain w;
    w.Show();
    const QStringList before = QDir(localDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    // A folder's line.
    ASSERT_TRUE(select(w, QStringLiteral("sub")));
    w.List1_DblClick();
    EXPECT_EQ(boxes.texts(), (std::vector<QString>{kNotFound, kFail}));
    EXPECT_EQ(boxes.shown()[0].icon, MsgIcon::Exclamation);
    // A file deleted on the server after the listing.
    writeFile(kHome + QStringLiteral("gone-soon.txt"), "abc");
    w.cmdOK_Click();
    QFile::remove(kHome + QStringLiteral("gone-soon.txt"));
    boxes.clear();
    ASSERT_TRUE(select(w, QStringLiteral("gone-soon.txt")));
    w.List1_DblClick();
    EXPECT_EQ(boxes.texts(), (std::vector<QString>{kNotFound, kFail}));
    EXPECT_EQ(QDir(localDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), before);
    // No selection: nothing at all.
    boxes.clear();
    w.List1->clearSelection();
    w.List1_DblClick();
    w.DownLoadSelected();
    w.cmdDelete_Click();
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_EQ(w.windowTitle(), FrmMain::Caption());
}

TEST_F(Transfers, CutTransferKeepsTheOldCopy) {
    ScriptedMsgBoxes boxes;
    FrmMain::SetFtpServerForTests(QString::fromUtf8(testenv::kHost), testenv::ftp::kCut.port);
    FrmMain w;
    w.Show();
    const QString local = localDir() + QStringLiteral("/report.zip");
    writeFile(local, "the user's old copy");
    ASSERT_TRUE(select(w, QStringLiteral("report.zip")));
    w.List1_DblClick();
    EXPECT_EQ(boxes.texts(), (std::vector<QString>{kReadFail, kFail}));
    QFile f(local);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("the user's old copy"));
    EXPECT_EQ(QDir(localDir()).entryList({QStringLiteral("report.zip?*")}, QDir::Files | QDir::Hidden), QStringList());
}

TEST_F(Transfers, HostileNamesNeverLeaveTheLocalFolder) {
    ScriptedMsgBoxes boxes;
    FrmMain::SetFtpServerForTests(QString::fromUtf8(testenv::kHost), testenv::ftp::kEvil.port);
    FrmMain w;
    w.Show();
    const QString parent = QCoreApplication::applicationDirPath();
    QFile::remove(parent + QStringLiteral("/evil"));
    int hostile = 0;
    for (int i = 0; i < w.List1->count(); ++i) {
        const QString name = w.List1->item(i)->data(Qt::UserRole).toString();
        if (name == QLatin1String("ok.txt")) continue;
        ++hostile;
        boxes.clear();
        w.List1->setCurrentRow(i);
        w.List1_DblClick();
        EXPECT_EQ(boxes.texts().back(), kFail) << name.toStdString();
    }
    EXPECT_GE(hostile, 3);
    EXPECT_FALSE(QFile::exists(parent + QStringLiteral("/evil")));
    EXPECT_FALSE(QFile::exists(localDir() + QStringLiteral("/a/b")));
    EXPECT_FALSE(QFile::exists(localDir() + QStringLiteral("/..\\evil")));
    // The one decent entry still downloads.
    boxes.clear();
    ASSERT_TRUE(select(w, QStringLiteral("ok.txt")));
    w.List1_DblClick();
    EXPECT_EQ(boxes.texts(), std::vector<QString>{kOk});
}

TEST_F(Transfers, DeleteAsksAndReports) {
    ScriptedMsgBoxes boxes;
    writeFile(kHome + QStringLiteral("삭제 대상.txt"), "x");
    writeFile(kHome + QStringLiteral("삭제"), "must survive");  // the text before the blank
    FrmMain w;
    w.Show();
    // No: nothing happens.
    ASSERT_TRUE(select(w, QStringLiteral("삭제 대상.txt")));
    boxes.answer(MsgAnswer::No);
    w.cmdDelete_Click();
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("정말 해당 파일을 삭제하시겠습니까?"));
    EXPECT_EQ(boxes.shown()[0].buttons, platform::MsgButtons::YesNo);
    EXPECT_EQ(boxes.shown()[0].icon, MsgIcon::None);
    EXPECT_TRUE(QFile::exists(kHome + QStringLiteral("삭제 대상.txt")));
    EXPECT_EQ(w.cursor().shape(), Qt::ArrowCursor);
    // Yes: deleted, reported, the list rebuilt without a selection.
    boxes.clear();
    QString captionDuring;
    boxes.onShow = [&](const platform::MsgBoxRecord&) { captionDuring = w.windowTitle(); };
    boxes.answer(MsgAnswer::Yes);
    w.cmdDelete_Click();
    ASSERT_EQ(boxes.shown().size(), 2u);
    EXPECT_EQ(boxes.shown()[1].text, QStringLiteral("파일이 삭제되었습니다."));
    EXPECT_EQ(boxes.shown()[1].title, QStringLiteral("확인"));
    EXPECT_EQ(boxes.shown()[1].icon, MsgIcon::Information);
    EXPECT_EQ(captionDuring, QStringLiteral("데이터 리스트[삭제 대상.txt] 삭제 중..."));
    EXPECT_FALSE(QFile::exists(kHome + QStringLiteral("삭제 대상.txt")));
    EXPECT_TRUE(QFile::exists(kHome + QStringLiteral("삭제")));
    EXPECT_TRUE(w.List1->selectedItems().isEmpty());
    EXPECT_FALSE(select(w, QStringLiteral("삭제 대상.txt")));
    EXPECT_EQ(w.windowTitle(), FrmMain::Caption());
    // Already gone, and a folder: the three-paragraph failure, no refresh.
    for (const QString& name : {QStringLiteral("삭제"), QStringLiteral("sub")}) {
        ASSERT_TRUE(select(w, name));
        if (name == QStringLiteral("삭제")) QFile::remove(kHome + name);
        boxes.clear();
        boxes.onShow = {};
        boxes.answer(MsgAnswer::Yes);
        w.cmdDelete_Click();
        ASSERT_EQ(boxes.shown().size(), 2u);
        EXPECT_EQ(boxes.shown()[1].text, kDeleteFail);
        EXPECT_EQ(boxes.shown()[1].title, QStringLiteral("확인"));
        EXPECT_TRUE(select(w, name));  // the line stays until the next refresh
    }
    EXPECT_TRUE(QDir(kHome + QStringLiteral("sub")).exists());
}

}  // namespace

namespace {

TEST_F(Transfers, GarbageListingShowsOnlyWhatParses) {
    ScriptedMsgBoxes boxes;
    FrmMain::SetFtpServerForTests(QString::fromUtf8(testenv::kHost), testenv::ftp::kGarbage.port);
    FrmMain w;
    w.Show();
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_TRUE(select(w, QStringLiteral("report.zip")));
    for (int i = 0; i < w.List1->count(); ++i)
        EXPECT_FALSE(w.List1->item(i)->data(Qt::UserRole).toString().isEmpty());
}

// The local side failing: a folder that cannot be written, and a full disk.
TEST_F(Transfers, LocalFailuresLeaveNothingBehind) {
    ScriptedMsgBoxes boxes;
    FrmMain w;
    w.Show();
    QTemporaryDir tmp;
    // Where the folder should be stands a file: nothing can be created in it.
    const QString notDir = tmp.path() + QStringLiteral("/AS파일");
    writeFile(notDir, "a file, not a folder");
    EXPECT_FALSE(w.FileDownLoad(QStringLiteral("as_files/2048.bin"), notDir, QString()));
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text,
              QStringLiteral("Error 75 (Path/File access error) in procedure FileDownLoad of Module FrmMain"));

    // A 1 MB file system receiving a 12 MB file.
    const QString small = tmp.path() + QStringLiteral("/full");
    QDir().mkpath(small);
    QProcess mount;
    mount.start(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                          QStringLiteral("size=1m"), QStringLiteral("tmpfs"), small});
    if (!mount.waitForFinished() || mount.exitCode() != 0) GTEST_SKIP() << "cannot mount a small file system here";
    writeFile(small + QStringLiteral("/report.zip"), "old copy");
    boxes.clear();
    EXPECT_FALSE(w.FileDownLoad(QStringLiteral("as_files/report.zip"), small, QString()));
    ASSERT_FALSE(boxes.shown().empty());
    EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("Error 61 (Disk full) in procedure FileDownLoad of Module FrmMain"));
    QFile old(small + QStringLiteral("/report.zip"));
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("old copy"));
    EXPECT_EQ(QDir(small).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("report.zip")});
    old.close();
    QProcess::execute(QStringLiteral("umount"), {small});
}

}  // namespace
