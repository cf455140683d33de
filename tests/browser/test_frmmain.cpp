// The main window against the real FTP servers of the test environment,
// driven through its controls (found by name) with real clicks and keys.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QListView>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <ctime>
#ifndef _WIN32
#include <dlfcn.h>
#include <pthread.h>
#endif

#include "browser/frmmain.h"
#include "browser/listing.h"
#include "core/errors.h"
#include "testsocket.h"
#include "testsupport.h"

using namespace testsupport;
using core::MsgAnswer;
using core::MsgIcon;

// Threads the system refuses to start while set, as when the process has
// reached its limit. Where the thread library is linked statically (Windows)
// it cannot be interposed.
bool g_refuseThreads = false;
#ifndef _WIN32
constexpr bool kCanRefuseThreads = true;
extern "C" int pthread_create(pthread_t* t, const pthread_attr_t* a, void* (*f)(void*), void* arg) {
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const auto real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    return g_refuseThreads ? EAGAIN : real(t, a, f, arg);
}
#else
constexpr bool kCanRefuseThreads = false;
#endif

namespace {

const QString kHome = QString::fromUtf8(testenv::ftp::kHome) + QStringLiteral("/as_files/");
const QString kCaption = QStringLiteral("데이터 리스트");
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

QByteArray bytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString localDir() { return QCoreApplication::applicationDirPath() + QStringLiteral("/AS파일"); }

void writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

// Files in `folder` whose names hold `name` but are not it: what a transfer
// to `name` may have left (a temporary file is hidden and named after it).
QStringList besides(const QString& folder, const QString& name) {
    QStringList out = QDir(folder).entryList({QLatin1Char('*') + name + QLatin1Char('*')}, QDir::Files | QDir::Hidden);
    out.removeAll(name);
    return out;
}

FrmMainEndpoints at(int port, const QString& localFolder = QString()) {
    return {QString::fromUtf8(testenv::kHost), port, localFolder};
}

template <class T = QWidget>
T* ctl(const QWidget& w, const char* name) {
    T* c = w.findChild<T*>(QString::fromLatin1(name));
    EXPECT_TRUE(c) << name;
    return c;
}
QListView* list(const QWidget& w) { return ctl<QListView>(w, "List1"); }
int count(const QWidget& w) { return list(w)->model()->rowCount(); }
QModelIndex row(const QWidget& w, int i) { return list(w)->model()->index(i, 0); }
// The entry's full name that a line carries.
QString nameAt(const QWidget& w, int i) { return row(w, i).data(Qt::UserRole).toString(); }
void click(const QWidget& w, const char* button) { QTest::mouseClick(ctl<QPushButton>(w, button), Qt::LeftButton); }

QStringList lines(const QWidget& w) {
    QStringList out;
    for (int i = 0; i < count(w); ++i) out << row(w, i).data().toString();
    return out;
}
// The line of `name`; invalid when it is not listed.
QModelIndex itemOf(const QWidget& w, const QString& name) {
    for (int i = 0; i < count(w); ++i)
        if (nameAt(w, i) == name) return row(w, i);
    return {};
}
QString selectedName(const QWidget& w) {
    const auto sel = list(w)->selectionModel()->selectedIndexes();
    return sel.isEmpty() ? QString() : sel.first().data(Qt::UserRole).toString();
}
// Clicks, or double-clicks, the line of `name`; false when it is not listed.
bool clickLine(const QWidget& w, const QString& name, bool twice = false) {
    const QModelIndex it = itemOf(w, name);
    if (!it.isValid()) return false;
    list(w)->scrollTo(it);
    const QPoint p = list(w)->visualRect(it).center();
    QTest::mouseClick(list(w)->viewport(), Qt::LeftButton, {}, p);
    if (twice) QTest::mouseDClick(list(w)->viewport(), Qt::LeftButton, {}, p);
    return true;
}
bool download(const QWidget& w, const QString& name) { return clickLine(w, name, true); }

// Renames a file of kHome over the main server's control connection: Windows
// (and wine) cannot make a name holding "*" through the file system.
bool renameOnServer(const QString& from, const QString& to) {
    namespace s = testsupport::sock;
    [[maybe_unused]] const s::Winsock winsock;
    const s::Socket c = s::NewSocket();
    const sockaddr_in addr = s::Loopback(testenv::ftp::kMain.port);
    const bool connected = ::connect(c, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    // Sends `line` (nothing for the greeting); true when the final reply has `code`.
    auto say = [&](const QByteArray& line, const char* code) {
        const QByteArray out = line + "\r\n";
        if (!line.isEmpty()) ::send(c, out.constData(), static_cast<int>(out.size()), s::kSendFlags);
        QByteArray reply;
        static const QRegularExpression last(QStringLiteral("(^|\n)\\d{3} [^\n]*\r\n$"));
        char buf[512];
        while (!last.match(QString::fromUtf8(reply)).hasMatch() && s::WaitFor(c, 5000) > 0) {
            const auto n = ::recv(c, buf, sizeof buf, 0);
            if (n <= 0) break;
            reply.append(buf, n);
        }
        const qsizetype at = reply.lastIndexOf('\n', reply.size() - 2) + 1;
        return reply.mid(at).startsWith(code);
    };
    const bool ok = connected && say({}, "220") && say("USER " + QByteArray(testenv::ftp::kUser), "331") &&
        say("PASS " + QByteArray(testenv::ftp::kPassword), "230") && say("RNFR as_files/" + from.toUtf8(), "350") &&
        say("RNTO as_files/" + to.toUtf8(), "250");
    s::Close(c);
    return ok;
}

class Window : public ::testing::Test {
protected:
    void SetUp() override { setTz("UTC-9"); }
    void TearDown() override { setTz("UTC"); }
};

TEST_F(Window, LayoutTextsFontsAndTabOrder) {
    ScriptedMsgBoxes boxes;
    FrmMain w(at(testenv::ftp::kMain.port));
    w.Show();
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_EQ(w.windowTitle(), kCaption);
    EXPECT_EQ(w.size(), QSize(622, 325));
    EXPECT_EQ(w.minimumSize(), w.maximumSize());
    EXPECT_FALSE(w.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    struct Control {
        const char* name;
        QRect rect;
        const char* text;
    } controls[] = {
        {"List1", {4, 4, 613, 260}, nullptr},
        {"Label1_1", {6, 271, 264, 17}, "내려받을 파일을 선택 후 더블클릭 하세요."},
        {"Label1_0", {6, 289, 332, 17}, "리스트를 갱신할려면 리스트 갱신 버튼을 클릭하세요."},
        {"Label1_2", {6, 308, 332, 17}, "내려받은 파일은 가급적 삭제하길 바랍니다."},
        {"Label1_3", {352, 272, 264, 17}, "AS파일 업로드 비밀번호 : tk3391"},
        {"cmdOK", {349, 291, 91, 33}, "리스트 갱신"},
        {"cmdDelete", {444, 291, 91, 33}, "파일삭제"},
        {"CmdClose", {540, 291, 79, 33}, "닫기"},
    };
    for (const Control& c : controls) {
        QWidget* x = ctl(w, c.name);
        ASSERT_TRUE(x);
        EXPECT_EQ(QRect(x->mapTo(&w, QPoint(0, 0)), x->size()), c.rect) << c.name;
        if (auto* l = qobject_cast<QLabel*>(x)) {
            EXPECT_EQ(l->text(), QString::fromUtf8(c.text));
            EXPECT_TRUE(l->font().bold());
            EXPECT_EQ(l->palette().color(QPalette::WindowText),
                      c.name == QLatin1String("Label1_3") ? QColor(255, 0, 0) : QColor(0, 0, 192));
        } else if (auto* b = qobject_cast<QPushButton*>(x)) {
            EXPECT_EQ(b->text(), QString::fromUtf8(c.text));
        }
    }
    EXPECT_EQ(list(w)->font().pointSize(), 12);
    // A fixed-pitch Hangul face, so the size column lines up under Hangul names.
    EXPECT_TRUE(QStringList({QStringLiteral("굴림체"), QStringLiteral("GulimChe"), QStringLiteral("NanumGothicCoding")})
                    .contains(QFontInfo(list(w)->font()).family()))
        << QFontInfo(list(w)->font()).family().toStdString();
    EXPECT_TRUE(QFontInfo(ctl(w, "cmdOK")->font()).bold());
    EXPECT_EQ(list(w)->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_TRUE(QDir(localDir()).exists());
    // Tab: list, close, refresh, delete, and round again.
    QApplication::setActiveWindow(&w);
    list(w)->setFocus();
    QStringList order;
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order << QApplication::focusWidget()->objectName();
    }
    EXPECT_EQ(order, QStringList({QStringLiteral("CmdClose"), QStringLiteral("cmdOK"), QStringLiteral("cmdDelete"),
                                  QStringLiteral("List1")}));
}

// The main server in two time zones, an empty folder, garbage lines, and a
// server that drops the idle session before the refresh.
TEST_F(Window, ListsWhatTheServerLists) {
    ScriptedMsgBoxes boxes;
    {
        FrmMain w(at(testenv::ftp::kMain.port));
        w.Show();
        EXPECT_TRUE(lines(w).contains(QStringLiteral("report.zip 2024-03-07 09시 05분    12,056 Kb")));
        for (const char* name : {"sub" /* folders are listed like files */, "견적서_2024.xlsx", "with blank.txt"})
            EXPECT_TRUE(itemOf(w, QString::fromUtf8(name)).isValid()) << name;  // every line carries its full name
        setTz("UTC");
        click(w, "cmdOK");
        EXPECT_TRUE(lines(w).contains(QStringLiteral("report.zip 2024-03-07 00시 05분    12,056 Kb")));
        // The listing cannot even start: reported, and the window goes on.
        g_refuseThreads = kCanRefuseThreads;
        click(w, "cmdOK");
        g_refuseThreads = false;
        if (kCanRefuseThreads) {
            ASSERT_EQ(boxes.shown().size(), 1u);
            EXPECT_TRUE(boxes.shown()[0].text.endsWith(QStringLiteral(") in procedure SetList of Form FrmMain")));
            boxes.clear();
        }
        click(w, "cmdOK");
        EXPECT_TRUE(itemOf(w, QStringLiteral("report.zip")).isValid());
    }
    {
        FrmMain w(at(testenv::ftp::kEmpty.port));
        w.Show();
        EXPECT_EQ(count(w), 0);
    }
    {
        FrmMain w(at(testenv::ftp::kGarbage.port));
        w.Show();
        EXPECT_TRUE(itemOf(w, QStringLiteral("report.zip")).isValid());
        for (int i = 0; i < count(w); ++i) EXPECT_FALSE(nameAt(w, i).isEmpty());
    }
    // The server drops the session after 2 s of silence; the refresh still lists.
    FrmMain w(at(testenv::ftp::kIdle.port));
    w.Show();
    const int n = count(w);
    EXPECT_GT(n, 5);
    QTest::qWait(3500);
    click(w, "cmdOK");
    EXPECT_EQ(count(w), n);
    EXPECT_TRUE(boxes.shown().empty());
}

// A folder longer than a list keeps: its first entries, in the server's
// order, and a message instead of an empty list; the session goes on.
TEST_F(Window, ListPastItsLimitShowsTheFirstEntriesAndSaysSo) {
    ScriptedMsgBoxes boxes;
    FrmMain w(at(testenv::ftp::kMain.port));
    w.Show();
    const QStringList all = lines(w);
    ASSERT_GT(all.size(), 4);
    const browser::ListLimits normal = browser::CurrentListLimits();
    browser::SetListLimits({3, normal.nameBytes});
    click(w, "cmdOK");
    browser::SetListLimits(normal);
    EXPECT_EQ(lines(w), all.mid(0, 3));
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("파일이 너무 많아 처음 3개만 표시합니다."));
    EXPECT_EQ(boxes.shown()[0].icon, MsgIcon::Information);
    // Name storage counts too: one name's worth lists one entry.
    browser::SetListLimits({normal.rows, nameAt(w, 0).size() * 2 + nameAt(w, 0).toUtf8().size()});
    click(w, "cmdOK");
    browser::SetListLimits(normal);
    EXPECT_EQ(lines(w), all.mid(0, 1));
    boxes.clear();
    // The listing stopped halfway; the next command still finds the server.
    ASSERT_TRUE(download(w, nameAt(w, 0)));
    EXPECT_EQ(boxes.texts(), std::vector<QString>{kOk});
    click(w, "cmdOK");
    EXPECT_EQ(lines(w), all);
}

// Screen readers see each visible line as an item whose text is the line.
TEST_F(Window, EachLineIsAnAccessibleItemWithItsText) {
    ScriptedMsgBoxes boxes;
    FrmMain w(at(testenv::ftp::kMain.port));
    w.Show();
    QAccessibleInterface* view = QAccessible::queryAccessibleInterface(list(w));
    ASSERT_TRUE(view);
    EXPECT_EQ(view->role(), QAccessible::List);
    ASSERT_GE(view->childCount(), 3);
    for (int i = 0; i < 3; ++i) {
        QAccessibleInterface* item = view->child(i);
        ASSERT_TRUE(item);
        EXPECT_EQ(item->role(), QAccessible::ListItem);
        EXPECT_EQ(item->text(QAccessible::Name), row(w, i).data().toString());
    }
    ASSERT_TRUE(clickLine(w, nameAt(w, 1)));
    EXPECT_TRUE(view->child(1)->state().selected);
}

TEST_F(Window, FailedSessionEndsTheProgramAfterCreatingTheFolder) {
    QDir(localDir()).removeRecursively();
    for (const FrmMainEndpoints& e :
         {at(testenv::kClosedPort), FrmMainEndpoints{QStringLiteral("no-such-host.invalid"), 21, QString()}}) {
        ScriptedMsgBoxes boxes;
        InterceptEnd end;
        FrmMain w(e);
        try {
            w.Show();
            FAIL() << "window opened";
        } catch (const ProgramEnded& ended) {
            EXPECT_EQ(ended.code, core::ExitCode::FtpConnectFailed);
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
        auto* w = new FrmMain(at(testenv::ftp::kMain.port));
        w->setAttribute(Qt::WA_DeleteOnClose);
        QPointer<FrmMain> alive(w);
        w->Show();
        QApplication::setActiveWindow(w);
        if (way == 0) click(*w, "CmdClose");
        else if (way == 1) QTest::keyClick(list(*w), Qt::Key_Escape);
        else w->close();
        QTest::qWait(20);
        EXPECT_TRUE(alive.isNull()) << way;
    }
    EXPECT_TRUE(boxes.shown().empty());
}

class Transfers : public Window {};

TEST_F(Transfers, DownloadsArriveWholeAndReplaceTheOldCopy) {
    ScriptedMsgBoxes boxes;
    FrmMain w(at(testenv::ftp::kMain.port));
    w.Show();
    QString captionDuring;
    boxes.onShow = [&](const core::MsgBoxRecord&) { captionDuring = w.windowTitle(); };
    for (const QString& name : {QStringLiteral("empty.txt"), QStringLiteral("견적서_2024.xlsx"),
                               QStringLiteral("2048.bin"), QStringLiteral("with blank.txt"),
                               QStringLiteral("report.zip")}) {
        const QString local = localDir() + QLatin1Char('/') + name;
        // An older, longer copy must be replaced, never appended to.
        writeFile(local, QByteArray(20000, 'x'));
        boxes.clear();
        ASSERT_TRUE(download(w, name));
        EXPECT_EQ(boxes.texts(), std::vector<QString>{kOk}) << name.toStdString();
        EXPECT_EQ(captionDuring, kCaption + QStringLiteral("[") + name + QStringLiteral("] 다운로드 중..."));
        EXPECT_TRUE(bytes(local) == bytes(kHome + name)) << name.toStdString();
        EXPECT_EQ(w.windowTitle(), kCaption);
        EXPECT_EQ(selectedName(w), name);  // selection kept
    }
    EXPECT_EQ(boxes.shown().back().icon, MsgIcon::Information);
    // No temporary files stay behind.
    EXPECT_TRUE(QDir(localDir()).entryList({QStringLiteral("*.*.*")}, QDir::Files | QDir::Hidden).isEmpty());
}

// The transfer runs on a worker while the window waits in an event loop:
// things that reach it meanwhile (a close request, a button pressed by
// assistive technology) find the command still running and are refused.
TEST_F(Transfers, WindowStaysModalWhileATransferRuns) {
    ScriptedMsgBoxes boxes;
    FrmMain w(at(testenv::ftp::kMain.port));
    w.Show();
    for (const bool refresh : {false, true}) {
        QString caption;
        Qt::CursorShape cursor = Qt::ArrowCursor;
        bool closed = true;
        ASSERT_TRUE(clickLine(w, QStringLiteral("report.zip")));
        boxes.clear();
        QTimer::singleShot(0, &w, [&] {
            caption = w.windowTitle();
            cursor = w.cursor().shape();
            closed = w.close();
            ctl<QPushButton>(w, "cmdDelete")->click();
            ctl<QPushButton>(w, "cmdOK")->click();
        });
        if (refresh) click(w, "cmdOK");
        else QTest::mouseDClick(list(w)->viewport(), Qt::LeftButton, {}, list(w)->visualRect(list(w)->currentIndex()).center());
        EXPECT_EQ(caption, refresh ? kCaption : kCaption + QStringLiteral("[report.zip] 다운로드 중..."));
        EXPECT_EQ(cursor, Qt::WaitCursor);
        EXPECT_FALSE(closed);
        EXPECT_TRUE(w.isVisible());
        // Only the command's own message: no deletion was asked for.
        EXPECT_EQ(boxes.texts(), refresh ? std::vector<QString>{} : std::vector<QString>{kOk});
        EXPECT_GT(count(w), 5);
    }
}

TEST_F(Transfers, WhatCannotBeDownloadedLeavesTheFolderAlone) {
    ScriptedMsgBoxes boxes;
    FrmMain w(at(testenv::ftp::kMain.port));
    w.Show();
    const QStringList before = QDir(localDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    // A folder's line.
    ASSERT_TRUE(download(w, QStringLiteral("sub")));
    EXPECT_EQ(boxes.texts(), (std::vector<QString>{kNotFound, kFail}));
    EXPECT_EQ(boxes.shown()[0].icon, MsgIcon::Exclamation);
    // A file deleted on the server after the listing.
    writeFile(kHome + QStringLiteral("gone-soon.txt"), "abc");
    click(w, "cmdOK");
    QFile::remove(kHome + QStringLiteral("gone-soon.txt"));
    boxes.clear();
    ASSERT_TRUE(download(w, QStringLiteral("gone-soon.txt")));
    EXPECT_EQ(boxes.texts(), (std::vector<QString>{kNotFound, kFail}));
    EXPECT_EQ(QDir(localDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), before);
    // No selection: "파일삭제" does nothing at all.
    boxes.clear();
    list(w)->clearSelection();
    click(w, "cmdDelete");
    EXPECT_TRUE(boxes.shown().empty());
    EXPECT_EQ(w.windowTitle(), kCaption);
    EXPECT_EQ(w.cursor().shape(), Qt::ArrowCursor);
}

TEST_F(Transfers, HostileNamesNeverLeaveTheLocalFolder) {
    ScriptedMsgBoxes boxes;
    FrmMain w(at(testenv::ftp::kEvil.port));
    w.Show();
    const QString parent = QCoreApplication::applicationDirPath();
    QFile::remove(parent + QStringLiteral("/evil"));
    int hostile = 0;
    for (int i = 0; i < count(w); ++i) {
        const QString name = nameAt(w, i);
        if (name == QLatin1String("ok.txt")) continue;
        ++hostile;
        boxes.clear();
        ASSERT_TRUE(download(w, name));
        EXPECT_EQ(boxes.texts().back(), kFail) << name.toStdString();
    }
    EXPECT_GE(hostile, 3);
    EXPECT_FALSE(QFile::exists(parent + QStringLiteral("/evil")));
    EXPECT_FALSE(QFile::exists(localDir() + QStringLiteral("/a/b")));
    EXPECT_FALSE(QFile::exists(localDir() + QStringLiteral("/..\\evil")));
    // The one decent entry still downloads.
    boxes.clear();
    ASSERT_TRUE(download(w, QStringLiteral("ok.txt")));
    EXPECT_EQ(boxes.texts(), std::vector<QString>{kOk});
}

TEST_F(Transfers, DeleteAsksAndReports) {
    ScriptedMsgBoxes boxes;
    writeFile(kHome + QStringLiteral("삭제 대상.txt"), "x");
    writeFile(kHome + QStringLiteral("삭제"), "must survive");  // the text before the blank
    FrmMain w(at(testenv::ftp::kMain.port));
    w.Show();
    // No: nothing happens.
    ASSERT_TRUE(clickLine(w, QStringLiteral("삭제 대상.txt")));
    boxes.answer(MsgAnswer::No);
    click(w, "cmdDelete");
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("정말 해당 파일을 삭제하시겠습니까?"));
    EXPECT_EQ(boxes.shown()[0].buttons, core::MsgButtons::YesNo);
    EXPECT_EQ(boxes.shown()[0].icon, MsgIcon::None);
    EXPECT_TRUE(QFile::exists(kHome + QStringLiteral("삭제 대상.txt")));
    EXPECT_EQ(w.cursor().shape(), Qt::ArrowCursor);
    // Yes: deleted, reported, the list rebuilt without a selection.
    boxes.clear();
    QString captionDuring;
    boxes.onShow = [&](const core::MsgBoxRecord&) { captionDuring = w.windowTitle(); };
    boxes.answer(MsgAnswer::Yes);
    click(w, "cmdDelete");
    ASSERT_EQ(boxes.shown().size(), 2u);
    EXPECT_EQ(boxes.shown()[1].text, QStringLiteral("파일이 삭제되었습니다."));
    EXPECT_EQ(boxes.shown()[1].title, QStringLiteral("확인"));
    EXPECT_EQ(boxes.shown()[1].icon, MsgIcon::Information);
    EXPECT_EQ(captionDuring, QStringLiteral("데이터 리스트[삭제 대상.txt] 삭제 중..."));
    EXPECT_FALSE(QFile::exists(kHome + QStringLiteral("삭제 대상.txt")));
    EXPECT_TRUE(QFile::exists(kHome + QStringLiteral("삭제")));
    EXPECT_TRUE(selectedName(w).isEmpty());
    EXPECT_FALSE(itemOf(w, QStringLiteral("삭제 대상.txt")).isValid());
    EXPECT_EQ(w.windowTitle(), kCaption);
    // Already gone, and a folder: the three-paragraph failure, no refresh.
    boxes.onShow = {};
    for (const QString& name : {QStringLiteral("삭제"), QStringLiteral("sub")}) {
        ASSERT_TRUE(clickLine(w, name));
        if (name == QStringLiteral("삭제")) QFile::remove(kHome + name);
        boxes.clear();
        boxes.answer(MsgAnswer::Yes);
        click(w, "cmdDelete");
        ASSERT_EQ(boxes.shown().size(), 2u);
        EXPECT_EQ(boxes.shown()[1].text, kDeleteFail);
        EXPECT_EQ(boxes.shown()[1].title, QStringLiteral("확인"));
        EXPECT_TRUE(itemOf(w, name).isValid());  // the line stays until the next refresh
    }
    EXPECT_TRUE(QDir(kHome + QStringLiteral("sub")).exists());
}

// "[*]" in a title is Qt's mark for unsaved changes; a name holding it (or
// whose "*]" closes the caption's "[") still shows as listed.
TEST_F(Transfers, CaptionShowsNamesHoldingTitleMarks) {
    ScriptedMsgBoxes boxes;
    const QString name = QStringLiteral("*]a[*]b[*][*].txt");
    const QString stand = QStringLiteral("title-mark.txt");
    QFile::remove(localDir() + QLatin1Char('/') + name);
    writeFile(kHome + stand, "x");
    ASSERT_TRUE(renameOnServer(stand, name));
    FrmMain w(at(testenv::ftp::kMain.port));
    w.Show();
    QStringList shown;
    boxes.onShow = [&](const core::MsgBoxRecord&) { shown << w.windowHandle()->title(); };
    ASSERT_TRUE(download(w, name));
    ASSERT_TRUE(clickLine(w, name));
    boxes.answer(MsgAnswer::Yes);
    click(w, "cmdDelete");
    // The first message of each command (the second asks before deleting).
    ASSERT_GE(shown.size(), 3);
    EXPECT_EQ(shown[0], kCaption + QStringLiteral("[") + name + QStringLiteral("] 다운로드 중..."));
    EXPECT_EQ(shown.back(), kCaption + QStringLiteral("[") + name + QStringLiteral("] 삭제 중..."));
    EXPECT_EQ(boxes.texts().back(), QStringLiteral("파일이 삭제되었습니다."));
    EXPECT_EQ(w.windowHandle()->title(), kCaption);
    QFile::remove(localDir() + QLatin1Char('/') + name);
}

// The server cutting the transfer, a folder that cannot be written and a
// full disk: the user's old copy stays as it was, nothing else is left.
// A data connection that stalls (half sent, then silence, nothing closed):
// the transfer gives up at its stall limit, the old copy stays, and the
// window goes on with the same session.
TEST_F(Transfers, StalledDataConnectionsGiveUpAndTheWindowGoesOn) {
    constexpr qint64 kLimitMs = 30000 + 15000;  // the stall limit, and room for a slow machine
    ScriptedMsgBoxes boxes;
    {
        FrmMain w(at(testenv::midstep::kStallRetr.port));
        w.Show();
        const QStringList listed = lines(w);
        ASSERT_GE(listed.size(), 5);
        const QString local = localDir() + QStringLiteral("/2048.bin");
        writeFile(local, "old copy");
        QElapsedTimer took;
        took.start();
        ASSERT_TRUE(download(w, QStringLiteral("2048.bin")));
        EXPECT_LT(took.elapsed(), kLimitMs);
        EXPECT_EQ(boxes.texts(), (std::vector<QString>{kReadFail, kFail}));
        EXPECT_EQ(bytes(local), QByteArray("old copy"));
        EXPECT_EQ(besides(localDir(), QStringLiteral("2048.bin")), QStringList());
        EXPECT_EQ(w.windowTitle(), kCaption);
        boxes.clear();
        click(w, "cmdOK");
        EXPECT_EQ(lines(w), listed);
        EXPECT_TRUE(boxes.shown().empty());
    }
    // The server stalls every other listing: a stalled one leaves the list
    // empty without a word; the next refresh lists the folder.
    FrmMain w(at(testenv::midstep::kStallList.port));
    QElapsedTimer took;
    took.start();
    w.Show();
    if (count(w) > 0) {  // the server's turn was a whole listing
        took.start();
        click(w, "cmdOK");
    }
    EXPECT_LT(took.elapsed(), kLimitMs);
    EXPECT_EQ(count(w), 0);
    EXPECT_TRUE(boxes.shown().empty());
    click(w, "cmdOK");
    ASSERT_GE(count(w), 5);
    const QString local = localDir() + QStringLiteral("/1536.bin");
    QFile::remove(local);
    ASSERT_TRUE(download(w, QStringLiteral("1536.bin")));
    EXPECT_EQ(boxes.texts(), std::vector<QString>{kOk});
    EXPECT_TRUE(bytes(local) == bytes(kHome + QStringLiteral("1536.bin")));
}

TEST_F(Transfers, FailedDownloadsKeepTheOldCopy) {
    ScriptedMsgBoxes boxes;
    {
        FrmMain w(at(testenv::ftp::kCut.port));
        w.Show();
        writeFile(localDir() + QStringLiteral("/report.zip"), "old copy");
        ASSERT_TRUE(download(w, QStringLiteral("report.zip")));
        EXPECT_EQ(boxes.texts(), (std::vector<QString>{kReadFail, kFail}));
        EXPECT_EQ(bytes(localDir() + QStringLiteral("/report.zip")), QByteArray("old copy"));
        EXPECT_EQ(besides(localDir(), QStringLiteral("report.zip")), QStringList());
    }
    QTemporaryDir tmp;
    {
        // Where the folder should be stands a file: the list still works,
        // downloads fail with the error of the write.
        const QString notDir = tmp.path() + QStringLiteral("/AS파일");
        writeFile(notDir, "a file, not a folder");
        FrmMain w(at(testenv::ftp::kMain.port, notDir));
        w.Show();
        boxes.clear();
        ASSERT_TRUE(download(w, QStringLiteral("2048.bin")));
        ASSERT_EQ(boxes.shown().size(), 2u);
#ifdef _WIN32  // the system says the path was not found
        const QString openError = QStringLiteral("Error 53 (File not found)");
#else
        const QString openError = QStringLiteral("Error 75 (Path/File access error)");
#endif
        EXPECT_EQ(boxes.shown()[0].text, openError + QStringLiteral(" in procedure FileDownLoad of Module FrmMain"));
        EXPECT_EQ(boxes.shown()[1].text, kFail);
    }
    // A 1 MB file system receiving a 12 MB file (mounted by the fixture
    // small_fs on the host, for both builds).
#ifdef _WIN32
    const QString small = QStringLiteral("Z:") + QStringLiteral(ORVEL_SMALL_FS);
#else
    const QString small = QStringLiteral(ORVEL_SMALL_FS);
#endif
    if (!QFile::exists(small + QStringLiteral("/mounted")))
        GTEST_SKIP() << "no small file system at " << ORVEL_SMALL_FS << " (mounting needs root)";
    for (const QString& f : QDir(small).entryList(QDir::Files | QDir::Hidden)) QFile::remove(small + QLatin1Char('/') + f);
    writeFile(small + QStringLiteral("/report.zip"), "old copy");
    {
        FrmMain w(at(testenv::ftp::kMain.port, small));
        w.Show();
        boxes.clear();
        ASSERT_TRUE(download(w, QStringLiteral("report.zip")));
        ASSERT_FALSE(boxes.shown().empty());
        EXPECT_EQ(boxes.shown()[0].text, QStringLiteral("Error 61 (Disk full) in procedure FileDownLoad of Module FrmMain"));
        EXPECT_EQ(boxes.shown().back().text, kFail);
        EXPECT_EQ(bytes(small + QStringLiteral("/report.zip")), QByteArray("old copy"));
        EXPECT_EQ(QDir(small).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("report.zip")});
        // The full disk left the window as it was: a file that fits arrives.
        boxes.clear();
        ASSERT_TRUE(download(w, QStringLiteral("2048.bin")));
        EXPECT_EQ(boxes.texts(), std::vector<QString>{kOk});
        EXPECT_TRUE(bytes(small + QStringLiteral("/2048.bin")) == bytes(kHome + QStringLiteral("2048.bin")));
    }
    for (const QString& f : QDir(small).entryList(QDir::Files | QDir::Hidden)) QFile::remove(small + QLatin1Char('/') + f);
}

}  // namespace
