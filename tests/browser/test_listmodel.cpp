// The list's rows: names packed in chunks, lines made when asked for.
#include <gtest/gtest.h>

#include <QSignalSpy>

#include "browser/listmodel.h"
#include "formats/koreanstring.h"

using browser::ListChunk;
using browser::ListModel;
using formats::FormatListLine;

namespace {

struct Entry {
    QString name;
    QByteArray raw;
    qint64 secs;
    qint64 size;
};

std::unique_ptr<ListChunk> chunkOf(const std::vector<Entry>& entries) {
    auto c = std::make_unique<ListChunk>();
    for (const Entry& e : entries) c->append(e.name, e.raw, e.secs, e.size);
    return c->compacted();
}

QString expectedLine(const Entry& e) {
    const QDateTime t = e.secs == ListChunk::kNoTime ? QDateTime() : QDateTime::fromSecsSinceEpoch(e.secs, Qt::UTC);
    return FormatListLine(e.name, t, e.size, QLatin1Char('.'));
}

}  // namespace

TEST(ListModel, RowsAcrossChunksKeepTheirOwnNamesAndLines) {
    qputenv("TZ", "UTC-9");
    ::tzset();
    const std::vector<Entry> entries = {
        {QStringLiteral("report.zip"), "report.zip", 1709769930, 12345678},
        {QStringLiteral("견적서.xlsx"), "\xb0\xdf\xc0\xfb\xbc\xad.xlsx", 1706745600, 1536},
        {QStringLiteral("견\uFFFD.txt"), "\xb0\xdf\xc0.txt", ListChunk::kNoTime, 0},  // no time given
        {QStringLiteral("견\uFFFD.txt"), "\xb0\xdf\xc1.txt", 1710000000, 511},       // the same text, other bytes
        {QStringLiteral("with blank.txt"), "with blank.txt", 0, 1234567890},
        {QStringLiteral("x"), "x", 86399, 512},
    };
    ListModel m;
    QSignalSpy inserted(&m, &ListModel::rowsInserted);
    m.clear(QLatin1Char('.'));
    m.append(chunkOf({entries[0], entries[1]}));
    m.append(chunkOf({}));  // nothing to add: no signal
    m.append(chunkOf({entries[2]}));
    m.append(chunkOf({entries[3], entries[4], entries[5]}));
    EXPECT_EQ(inserted.size(), 3);
    ASSERT_EQ(m.rowCount(), 6);
    // Backwards and forwards, so that every row is found from another chunk.
    for (int pass = 0; pass < 2; ++pass)
        for (int k = 0; k < 6; ++k) {
            const int i = pass == 0 ? 5 - k : k;
            const QModelIndex at = m.index(i, 0);
            EXPECT_EQ(at.data().toString(), expectedLine(entries[size_t(i)])) << i;
            EXPECT_EQ(at.data(Qt::AccessibleTextRole), at.data()) << i;
            EXPECT_EQ(at.data(ListModel::NameRole).toString(), entries[size_t(i)].name) << i;
            EXPECT_EQ(at.data(ListModel::RawNameRole).toByteArray(), entries[size_t(i)].raw) << i;
        }
    EXPECT_FALSE(m.index(6, 0).data().isValid());
    EXPECT_TRUE(m.name(-1).isEmpty());
    EXPECT_TRUE(m.rawName(6).isEmpty());
    EXPECT_EQ(m.line(2).mid(m.line(2).indexOf(QLatin1Char(' ')) + 1, 10), QStringLiteral("1601-01-01"));

    QSignalSpy reset(&m, &ListModel::modelReset);
    m.clear(QLatin1Char(','));
    EXPECT_EQ(reset.size(), 1);
    EXPECT_EQ(m.rowCount(), 0);
    m.append(chunkOf({entries[4]}));
    EXPECT_EQ(m.line(0), FormatListLine(entries[4].name, QDateTime::fromSecsSinceEpoch(0, Qt::UTC), entries[4].size,
                                        QLatin1Char(',')));
    qputenv("TZ", "UTC");
    ::tzset();
}
