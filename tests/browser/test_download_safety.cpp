// Where a download may write: the entry of its own name in the local folder
// and nothing behind it (links, shortcuts, a folder that is a link), and only
// under a name the system keeps as it is. Against the real FTP server, through
// the window.
#ifdef _WIN32
#include <winsock2.h>  // before windows.h: curl.h brings it in too
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#endif

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QAbstractItemView>
#include <QTemporaryDir>
#include <QTest>
#include <string>

#include <curl/curl.h>

#include "browser/frmmain.h"
#include "platform/files.h"
#include "testsupport.h"

using namespace testsupport;

namespace {

const QString kOk = QStringLiteral("파일다운로드가 완료되었습니다.");
const QString kFail = QStringLiteral("파일다운로드가 실패하였습니다.");
const QString kBadName = QStringLiteral("내려받을 수 없는 파일명입니다.");
const QString kHome = QString::fromUtf8(testenv::ftp::kHome) + QStringLiteral("/as_files/");

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

QByteArray bytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(data);
}

// A file put on the server over FTP under its name's UTF-8 bytes, and taken
// away again: a Windows test cannot write such names to the server's disk.
class ServerFile {
public:
    ServerFile(const QString& name, const QByteArray& content) : name_(name.toUtf8()) { put(content); }
    ~ServerFile() {
        curl_slist* dele = curl_slist_append(nullptr, ("DELE " + name_.toStdString()).c_str());
        run(dir(), [&](CURL* c) {
            curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
            curl_easy_setopt(c, CURLOPT_POSTQUOTE, dele);
        });
        curl_slist_free_all(dele);
    }
    void put(QByteArray content) {
        const CURLcode rc = run(dir() + name_.toPercentEncoding().toStdString(), [&](CURL* c) {
            curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(c, CURLOPT_READDATA, &content);
            curl_easy_setopt(c, CURLOPT_READFUNCTION, +[](char* buf, size_t size, size_t n, void* data) {
                auto& rest = *static_cast<QByteArray*>(data);
                const size_t k = std::min<size_t>(size * n, static_cast<size_t>(rest.size()));
                std::copy_n(rest.constData(), k, buf);
                rest.remove(0, static_cast<qsizetype>(k));
                return k;
            });
        });
        EXPECT_EQ(rc, CURLE_OK) << name_.toStdString();
    }

private:
    static std::string dir() {
        return "ftp://" + std::string(testenv::kHost) + ":" + std::to_string(testenv::ftp::kMain.port) + "/as_files/";
    }
    template <class Setup>
    static CURLcode run(const std::string& url, Setup setup) {
        CURL* c = curl_easy_init();
        curl_easy_setopt(c, CURLOPT_URL, url.c_str());
        curl_easy_setopt(c, CURLOPT_USERNAME, testenv::ftp::kUser);
        curl_easy_setopt(c, CURLOPT_PASSWORD, testenv::ftp::kPassword);
        curl_easy_setopt(c, CURLOPT_TIMEOUT, 20L);
        setup(c);
        const CURLcode rc = curl_easy_perform(c);
        curl_easy_cleanup(c);
        return rc;
    }
    QByteArray name_;
};

// A symbolic link at `link` to `target`; false where the system makes none.
bool symlink(const QString& target, const QString& link, bool folder = false) {
#ifdef _WIN32
    const DWORD flags = (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
    const std::wstring at = QDir::toNativeSeparators(link).toStdWString();
    // wine 8 answers success and makes nothing.
    return ::CreateSymbolicLinkW(at.c_str(), QDir::toNativeSeparators(target).toStdWString().c_str(), flags) &&
           ::GetFileAttributesW(at.c_str()) != INVALID_FILE_ATTRIBUTES;
#else
    (void)folder;
    return QFile::link(target, link);
#endif
}

// A shortcut to `target` as the shell makes it (on Windows; elsewhere a file
// of the same bytes' kind: a .lnk is only a name there).
QByteArray shortcutTo(const QString& target, const QString& where) {
#ifdef _WIN32
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IShellLinkW* link = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(&link))))
        return {};
    link->SetPath(QDir::toNativeSeparators(target).toStdWString().c_str());
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        file->Save(QDir::toNativeSeparators(where).toStdWString().c_str(), TRUE);
        file->Release();
    }
    link->Release();
#else
    writeFile(where, QByteArray("L\0\0\0shortcut to ", 17) + target.toUtf8());
#endif
    return bytes(where);
}

bool download(FrmMain& w, const QString& name) {
    auto* list = w.findChild<QAbstractItemView*>(QStringLiteral("List1"));
    for (int i = 0; i < list->model()->rowCount(); ++i) {
        const QModelIndex row = list->model()->index(i, 0);
        if (row.data(Qt::UserRole).toString() != name) continue;
        list->scrollTo(row);
        const QPoint p = list->visualRect(row).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, p);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, p);
        return true;
    }
    return false;
}

FrmMainEndpoints at(const QString& localFolder) {
    return {QString::fromUtf8(testenv::kHost), testenv::ftp::kMain.port, localFolder};
}

// A user's folder with the download folder in it and a file outside it
// that links in the download folder lead to.
struct Place {
    QTemporaryDir tmp;
    QString local = tmp.filePath(QStringLiteral("AS파일"));
    QString victim = tmp.filePath(QStringLiteral("시작프로그램.txt"));
    Place() {
        QDir().mkpath(local);
        writeFile(victim, "victim");
    }
};

// A shortcut downloaded once, replaced on the server and downloaded again
// must replace the shortcut file, never write to what it points at; the
// same for a symbolic link, a dangling one included.
TEST(DownloadSafety, LinksAndShortcutsAreReplacedNeverFollowed) {
    ScriptedMsgBoxes boxes;
    Place place;
    const QByteArray first = shortcutTo(place.victim, place.tmp.filePath(QStringLiteral("first.lnk")));
    ASSERT_FALSE(first.isEmpty());
    ServerFile notes(QStringLiteral("notes.lnk"), first);
    // The user's own copy is a real shortcut to the victim.
    shortcutTo(place.victim, place.local + QStringLiteral("/notes.lnk"));
    FrmMain w(at(place.local));
    w.Show();
    ASSERT_TRUE(download(w, QStringLiteral("notes.lnk")));
    EXPECT_EQ(boxes.texts(), std::vector<QString>{kOk});
    EXPECT_EQ(bytes(place.local + QStringLiteral("/notes.lnk")), first);

    const QByteArray second = shortcutTo(place.tmp.filePath(QStringLiteral("other.txt")),
                                         place.tmp.filePath(QStringLiteral("second.lnk")));
    notes.put(second);
    boxes.clear();
    ASSERT_TRUE(download(w, QStringLiteral("notes.lnk")));
    EXPECT_EQ(boxes.texts(), std::vector<QString>{kOk});
    EXPECT_EQ(bytes(place.local + QStringLiteral("/notes.lnk")), second);
    EXPECT_EQ(bytes(place.victim), QByteArray("victim"));

    for (const QString& name : {QStringLiteral("report.zip"), QStringLiteral("2048.bin")}) {
        const QString local = place.local + QLatin1Char('/') + name;
        // report.zip leads to the victim, 2048.bin to a file not there yet.
        const QString target = name == QLatin1String("report.zip") ? place.victim : place.tmp.filePath(name);
        if (!symlink(target, local)) GTEST_SKIP() << "no symbolic links here";
        boxes.clear();
        ASSERT_TRUE(download(w, name));
        EXPECT_EQ(boxes.texts(), std::vector<QString>{kOk}) << name.toStdString();
        EXPECT_FALSE(QFileInfo(local).isSymbolicLink()) << name.toStdString();
        EXPECT_EQ(bytes(local), bytes(kHome + name)) << name.toStdString();
    }
    EXPECT_EQ(bytes(place.victim), QByteArray("victim"));
    EXPECT_FALSE(QFile::exists(place.tmp.filePath(QStringLiteral("2048.bin"))));
}

// The download folder itself leading elsewhere: the path cannot be used.
TEST(DownloadSafety, AFolderThatIsALinkIsRefused) {
    ScriptedMsgBoxes boxes;
    QTemporaryDir tmp;
    const QString real = tmp.filePath(QStringLiteral("elsewhere"));
    const QString local = tmp.filePath(QStringLiteral("AS파일"));
    QDir().mkpath(real);
    if (!symlink(real, local, true)) GTEST_SKIP() << "no symbolic links here";
    if (kWindows && !platform::IsLink(local)) GTEST_SKIP() << "this system does not report the link as one";
    FrmMain w(at(local));
    w.Show();
    ASSERT_TRUE(download(w, QStringLiteral("report.zip")));
    EXPECT_EQ(boxes.texts(),
              (std::vector<QString>{QStringLiteral("Error 75 (Path/File access error) in procedure FileDownLoad of Module FrmMain"),
                                    kFail}));
    EXPECT_TRUE(QDir(real).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
}

// Names Windows would change (a trailing dot), take for a device, read as
// a stream or a pattern, or fold into one file by case; names whose
// characters make them read as something else. Linux keeps what it allows.
TEST(DownloadSafety, NamesTheSystemWouldChangeOrMisreadAreRefused) {
    ScriptedMsgBoxes boxes;
    Place place;
    writeFile(place.local + QStringLiteral("/a.pdf"), "the user's a.pdf");
    const QString bidi = QString::fromUtf16(u"inv\u202Efdp.exe");
    const QString windowsOnly[] = {QStringLiteral("CON.txt"), QStringLiteral("a.pdf."), QStringLiteral("q?.txt"),
                                   QStringLiteral("Twin.txt"), QStringLiteral("twin.txt")};
    std::vector<std::unique_ptr<ServerFile>> files;
    files.push_back(std::make_unique<ServerFile>(bidi, "MZ"));
    for (const QString& name : windowsOnly) files.push_back(std::make_unique<ServerFile>(name, name.toUtf8()));
    FrmMain w(at(place.local));
    w.Show();

    boxes.clear();
    ASSERT_TRUE(download(w, bidi));
    ASSERT_EQ(boxes.shown().size(), 2u);
    EXPECT_TRUE(boxes.shown()[0].text.startsWith(kBadName));
    EXPECT_EQ(boxes.shown()[1].text, kFail);
    for (const QString& name : windowsOnly) {
        boxes.clear();
        ASSERT_TRUE(download(w, name)) << name.toStdString();
        if (kWindows) {
            ASSERT_EQ(boxes.shown().size(), 2u) << name.toStdString();
            EXPECT_TRUE(boxes.shown()[0].text.startsWith(kBadName)) << name.toStdString();
            EXPECT_EQ(boxes.shown()[1].text, kFail);
        } else {
            EXPECT_EQ(boxes.texts(), std::vector<QString>{kOk}) << name.toStdString();
            EXPECT_EQ(bytes(place.local + QLatin1Char('/') + name), name.toUtf8());
        }
    }
    EXPECT_EQ(bytes(place.local + QStringLiteral("/a.pdf")), QByteArray("the user's a.pdf"));
    const QStringList left = QDir(place.local).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    EXPECT_EQ(left.size(), kWindows ? 1 : 6) << left.join(QLatin1Char(' ')).toStdString();
}

#ifdef _WIN32
// The bytes of `path` read through the system, streams included.
QByteArray systemBytes(const std::wstring& path) {
    HANDLE h = ::CreateFileW(path.c_str(), FILE_GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    QByteArray out(4096, '\0');
    DWORD got = 0;
    ::ReadFile(h, out.data(), static_cast<DWORD>(out.size()), &got, nullptr);
    ::CloseHandle(h);
    out.resize(got);
    return out;
}

// Whether the volume under `folder` keeps alternate data streams (wine's
// keep none: it would take "x:Zone.Identifier" for a file of its own).
bool keepsStreams(const QString& folder) {
    const std::wstring path = QDir::toNativeSeparators(folder).toStdWString();
    wchar_t root[MAX_PATH];
    DWORD flags = 0;
    return ::GetVolumePathNameW(path.c_str(), root, MAX_PATH) &&
           ::GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
           (flags & FILE_NAMED_STREAMS);
}

// The file arrives marked as come from the internet; where the file system
// keeps no mark, the download still succeeds and leaves nothing else.
TEST(DownloadSafety, DownloadsCarryTheirOrigin) {
    ScriptedMsgBoxes boxes;
    Place place;
    FrmMain w(at(place.local));
    w.Show();
    ASSERT_TRUE(download(w, QStringLiteral("report.zip")));
    EXPECT_EQ(boxes.texts(), std::vector<QString>{kOk});
    EXPECT_EQ(QDir(place.local).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{QStringLiteral("report.zip")});
    if (!keepsStreams(place.tmp.path())) GTEST_SKIP() << "this file system keeps no alternate data streams";
    const std::wstring file = QDir::toNativeSeparators(place.local + QStringLiteral("/report.zip")).toStdWString();
    EXPECT_EQ(systemBytes(file + L":Zone.Identifier"), QByteArray("[ZoneTransfer]\r\nZoneId=3\r\n"));
}

// The short name Windows gives a long-named file leads to that file: the
// server's "REPORT~1.PDF" must not replace the user's "report-final.pdf",
// hidden or not.
TEST(DownloadSafety, AShortNameIsNoWayToAnotherFile) {
    for (const bool hidden : {false, true}) {
        SCOPED_TRACE(hidden ? "hidden" : "plain");
        ScriptedMsgBoxes boxes;
        Place place;
        const QString longFile = place.local + QStringLiteral("/report-final-version.pdf");
        writeFile(longFile, "the user's report");
        const std::wstring native = QDir::toNativeSeparators(longFile).toStdWString();
        const DWORD plain = ::GetFileAttributesW(native.c_str());
        if (hidden) {
            ASSERT_TRUE(::SetFileAttributesW(native.c_str(), plain | FILE_ATTRIBUTE_HIDDEN));
        }
        wchar_t shortPath[MAX_PATH];
        const DWORD n = ::GetShortPathNameW(native.c_str(), shortPath, MAX_PATH);
        const QString shortName = QFileInfo(QString::fromWCharArray(shortPath, n)).fileName();
        if (n == 0 || n >= MAX_PATH || shortName.compare(QFileInfo(longFile).fileName(), Qt::CaseInsensitive) == 0) {
            GTEST_SKIP() << "this volume gives no short names";
        }
        ServerFile alias(shortName, "not the report");
        FrmMain w(at(place.local));
        w.Show();
        ASSERT_TRUE(download(w, shortName));
        ASSERT_EQ(boxes.shown().size(), 2u);
        EXPECT_TRUE(boxes.shown()[0].text.startsWith(kBadName));
        EXPECT_EQ(boxes.shown()[1].text, kFail);
        ::SetFileAttributesW(native.c_str(), plain);
        EXPECT_EQ(bytes(longFile), QByteArray("the user's report"));
    }
}
#endif

}  // namespace
