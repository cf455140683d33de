#include <gtest/gtest.h>

#include <curl/curl.h>

#include <map>
#include <string>

#include "formats/ftplisting.h"
#include "testendpoints.h"

namespace {

QDateTime Utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
}

const QDateTime kNow = Utc(2024, 6, 15, 12, 0);

FtpEntry Parsed(const QByteArray& line, const QDateTime& now = kNow) {
    FtpEntry e;
    EXPECT_TRUE(ParseListLine(line, now, e)) << line.constData();
    return e;
}

TEST(FtpListing, UnixLines) {
    FtpEntry e = Parsed("-rw-r--r--   1 root     root     5368709120 Mar 01  2024 big5g.iso");
    EXPECT_EQ(e.size, 5368709120LL);
    EXPECT_EQ(e.mtimeUtc, Utc(2024, 3, 1));
    EXPECT_TRUE(Parsed("drwxr-sr-x+  4 web      www-data     4096 Nov 30  2023 share").isDir);
    // No group column; numeric owner.
    e = Parsed("-rw-r--r--   1 1001     12056 Mar  7  2024 no group.zip");
    EXPECT_EQ(e.name, QStringLiteral("no group.zip"));
    EXPECT_EQ(e.size, 12056);
    // Every byte after the time belongs to the name; links show their own.
    EXPECT_EQ(Parsed("-rw-r--r-- 1 u g 5 Mar  7  2023 two  blanks  ").name, QStringLiteral("two  blanks  "));
    EXPECT_EQ(Parsed("-rw-r--r-- 1 u g 5 Mar  7 09:05  leading").name, QStringLiteral(" leading"));
    EXPECT_EQ(Parsed("-rw-r--r-- 1 u g 5 Mar  7  2023 2024 03 report.txt").name, QStringLiteral("2024 03 report.txt"));
    EXPECT_EQ(Parsed("-rw-r--r-- 1 u g 5 Mar  7  2023 견적서_2024.xlsx").name, QStringLiteral("견적서_2024.xlsx"));
    EXPECT_EQ(Parsed("lrwxrwxrwx 1 0 0 11 Jan 15  2024 latest -> releases/1.0.3").name, QStringLiteral("latest"));
    EXPECT_EQ(Parsed("-rw-r--r-- 1 u g 5 Mar  7  2023 a -> b").name, QStringLiteral("a -> b"));
}

TEST(FtpListing, UnixDatesWithoutYearTakeTheLatestYearNotADayAhead) {
    EXPECT_EQ(Parsed("-rw-r--r-- 1 u g 1 Mar  7 09:05 f").mtimeUtc, Utc(2024, 3, 7, 9, 5));
    EXPECT_EQ(Parsed("-rw-r--r-- 1 u g 1 Jun 16 11:59 f").mtimeUtc, Utc(2024, 6, 16, 11, 59));
    EXPECT_EQ(Parsed("-rw-r--r-- 1 u g 1 Jun 16 12:01 f").mtimeUtc, Utc(2023, 6, 16, 12, 1));
    EXPECT_EQ(Parsed("-rw-r--r-- 1 u g 1 Jan  1 08:00 f", Utc(2024, 12, 31, 20, 0)).mtimeUtc, Utc(2025, 1, 1, 8, 0));
    EXPECT_EQ(Parsed("-rw-r--r-- 1 u g 1 Feb 29 10:00 f", Utc(2027, 3, 1)).mtimeUtc, Utc(2024, 2, 29, 10, 0));
}

TEST(FtpListing, DosLines) {
    FtpEntry e = Parsed("03-07-24  09:05PM       <DIR>          new folder");
    EXPECT_TRUE(e.isDir);
    EXPECT_EQ(e.name, QStringLiteral("new folder"));
    EXPECT_EQ(e.mtimeUtc, Utc(2024, 3, 7, 21, 5));
    e = Parsed("12-31-99  12:00AM           5368709120 big.iso");
    EXPECT_EQ(e.size, 5368709120LL);
    EXPECT_EQ(e.mtimeUtc, Utc(1999, 12, 31, 0, 0));
    EXPECT_EQ(Parsed("01-02-69  12:30PM                  1 a").mtimeUtc, Utc(2069, 1, 2, 12, 30));
    EXPECT_EQ(Parsed("01-02-2024  17:30              1,024 grouped.bin").size, 1024);
}

TEST(FtpListing, NamesKeepTheServersBytes) {
    // "견적 목록.txt" in code page 949, and a lead byte without its second byte.
    for (const QByteArray& name :
         {QByteArray("\xb0\xdf\xc0\xfb \xb8\xf1\xb7\xcf.txt"), QByteArray("\xb0\xdf\xc0.txt")}) {
        EXPECT_EQ(Parsed("02-02-24  04:10AM                  777 " + name).rawName, name);
        EXPECT_EQ(Parsed("-rw-r--r-- 1 u g 777 Feb  2  2024 " + name).rawName, name);
        EXPECT_EQ(Parsed("lrwxrwxrwx 1 u g 7 Feb  2  2024 " + name + " -> x").rawName, name);
    }
}

TEST(FtpListing, MlsdFacts) {
    FtpEntry e;
    ASSERT_TRUE(ParseMlsdLine("Type=File;Size=12;Modify=20240307000530.250; a; b.txt", e));
    EXPECT_EQ(e.name, QStringLiteral("a; b.txt"));
    EXPECT_EQ(e.size, 12);
    EXPECT_EQ(e.mtimeUtc, Utc(2024, 3, 7, 0, 5, 30));
    ASSERT_TRUE(ParseMlsdLine("type=dir;sizd=4096;modify=2024012010; sub", e));
    EXPECT_TRUE(e.isDir);
    EXPECT_EQ(e.size, 4096);
    EXPECT_FALSE(e.mtimeUtc.isValid());  // a broken time keeps the entry
    const auto list = ParseListing("type=cdir; .\r\ntype=pdir; ..\r\ntype=dir; ..\r\ntype=file;size=1; x\r\n", true, kNow);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].name, QStringLiteral("x"));
}

TEST(FtpListing, LinesNotUnderstoodAreSkipped) {
    const QByteArray bad[] = {
        "total 12", "-rw-r--r-- 1 u g 5 Mar  7  2023", "-rw-r--r-- 1 u g 5 Mar  7  2023 ",
        "-rw-r--r-- 1 u g 5 Feb 30  2023 f", "-rw-r--r-- 1 u g 5 Mar  7 25:00 f", "-rw-r--r-- 1 u g -5 Mar  7  2023 f",
        "-rw-r--r-- 1 u g 99999999999999999999 Mar  7  2023 f", "crw-rw-rw- 1 root tty 4, 64 Mar  7  2023 tty0",
        "13-07-24  09:05AM  <DIR>  m13", "03-07-24  13:05PM  <DIR>  pm13", "03-07-24  09:05AM  12x  what",
        "type=file;size=1;", "no facts here", "\xff\xfe\x01 garbage",
    };
    const FtpEntry keep{QStringLiteral("kept"), "kept", Utc(2020, 1, 1), 7, false};
    QByteArray body;
    for (const QByteArray& line : bad) {
        FtpEntry e = keep;
        EXPECT_FALSE(ParseListLine(line, kNow, e) || ParseMlsdLine(line, e)) << line.constData();
        EXPECT_EQ(e.name, keep.name);
        body += line + "\r\n";
    }
    EXPECT_TRUE(ParseListing(body, false, kNow).empty());
    EXPECT_TRUE(ParseListing(body, true, kNow).empty());
}

// The listings of the test environment's own FTP servers, when they run.
size_t Collect(char* data, size_t size, size_t n, void* out) {
    static_cast<QByteArray*>(out)->append(data, qsizetype(size * n));
    return size * n;
}

bool Fetch(const char* url, const char* command, QByteArray& body) {
    CURL* c = curl_easy_init();
    if (!c) return false;
    curl_easy_setopt(c, CURLOPT_URL, url);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, 10L);
    if (command) curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, command);
    const CURLcode rc = curl_easy_perform(c);
    curl_easy_cleanup(c);
    return rc == CURLE_OK;
}

TEST(FtpListing, TestServersListingsAgree) {
    QByteArray vsList, pyList, pyMlsd;
    const auto url = [](const testenv::FtpPeer& p) {
        return "ftp://" + std::string(p.user) + ":" + p.password + "@" + testenv::kHost + ":" +
               std::to_string(p.port) + "/as_files/";
    };
    if (!Fetch(url(testenv::ftp::kPeer).c_str(), nullptr, vsList) ||
        !Fetch(url(testenv::ftp::kMain).c_str(), nullptr, pyList) ||
        !Fetch(url(testenv::ftp::kMain).c_str(), "MLSD", pyMlsd))
        GTEST_SKIP() << "test FTP servers not running";
    const QDateTime now = QDateTime::currentDateTimeUtc();
    std::map<QString, FtpEntry> facts;
    for (const FtpEntry& e : ParseListing(pyMlsd, true, now)) facts[e.name] = e;
    ASSERT_TRUE(facts.count(QStringLiteral("with blank.txt")));
    for (const QByteArray* body : {&vsList, &pyList}) {
        const auto entries = ParseListing(*body, false, now);
        EXPECT_EQ(entries.size(), size_t(body->count('\n'))) << "a line not understood in\n" << body->constData();
        for (const FtpEntry& e : entries) {
            const auto it = facts.find(e.name);
            if (it == facts.end()) continue;  // came or went between the listings
            EXPECT_EQ(e.isDir, it->second.isDir) << e.name.toStdString();
            EXPECT_TRUE(e.isDir || e.size == it->second.size) << e.name.toStdString();
            // LIST gives the day for older entries, the minute for recent ones.
            EXPECT_EQ(e.mtimeUtc.date(), it->second.mtimeUtc.date()) << e.name.toStdString();
        }
    }
}

TEST(FtpListing, StreamedInAnyPiecesGivesTheWholeListing) {
    const QByteArray body =
        "type=cdir;modify=20240101000000; .\r\n"
        "type=file;size=12345678;modify=20240307000530; report.zip\r\n\r\n"
        "type=file;size=511;modify=20240115030000; with blank.txt\n"
        "type=dir;modify=20240120100000; sub\r\n"
        "type=file;size=1;modify=20240307235959; \xea\xb2\xac\xec\xa0\x81.txt";  // no line end
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const std::vector<FtpEntry> whole = ParseListing(body, true, now);
    ASSERT_EQ(whole.size(), 4u);
    for (int piece = 1; piece <= 9; ++piece) {
        std::vector<FtpEntry> got;
        ListingStream stream(true, now, DecodeUtf8Name, [&got](FtpEntry& e) { got.push_back(e); });
        for (qsizetype at = 0; at < body.size(); at += piece)
            stream.feed(body.constData() + at, std::min<qsizetype>(piece, body.size() - at));
        stream.finish();
        ASSERT_EQ(got.size(), whole.size()) << piece;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].rawName, whole[i].rawName) << piece;
            EXPECT_EQ(got[i].size, whole[i].size) << piece;
            EXPECT_EQ(got[i].mtimeUtc, whole[i].mtimeUtc) << piece;
        }
    }
}

// A server that never ends its line costs no more than one line's worth.
TEST(FtpListing, OverlongLinesAreSkippedWithoutBeingKept) {
    const QByteArray good = "type=file;size=1;modify=20240101000000; ok.txt\r\n";
    const QByteArray longName = "type=file;size=1;modify=20240101000000; " +
                                QByteArray(ListingStream::kMaxLine, 'n');
    for (const qsizetype piece : {qsizetype{1000}, ListingStream::kMaxLine * 3}) {
        std::vector<QByteArray> got;
        ListingStream stream(true, QDateTime::currentDateTimeUtc(), DecodeUtf8Name,
                             [&got](FtpEntry& e) { got.push_back(e.rawName); });
        const QByteArray body = good + longName + "\r\n" + good + longName;  // the last one never ends
        for (qsizetype at = 0; at < body.size(); at += piece)
            stream.feed(body.constData() + at, std::min(piece, body.size() - at));
        stream.finish();
        EXPECT_EQ(got, (std::vector<QByteArray>{"ok.txt", "ok.txt"})) << piece;
    }
}

}  // namespace
