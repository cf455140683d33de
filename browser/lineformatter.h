#pragma once
// List lines for a whole listing, built one after another at the pace the
// listing arrives. Each line is exactly what formats::FormatListLine gives;
// the work per line is one allocation and no conversion through the code
// page or the calendar library.
#include <QChar>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <limits>

namespace browser {

class LineFormatter {
public:
    // `groupSep`: the locale's thousands separator. The machine's time zone
    // is read now; a formatter belongs to one listing.
    explicit LineFormatter(QChar groupSep);

    QString Format(const QString& name, const QDateTime& utcMtime, qint64 size);

    // Local minus UTC, in seconds, at `utcSecs`, as the calendar library's
    // conversion to local time gives it. Worked out once per UTC day: a day
    // whose two ends have the same offset keeps it throughout (no zone
    // changes its offset twice in one day); the day of a change asks again
    // for every time in it.
    int OffsetAt(qint64 utcSecs);

private:
    QChar sep_;
    int sepWidth_;  // columns the separator takes in code page 949
    QHash<qint64, int> dayOffset_;
    qint64 lastDay_ = std::numeric_limits<qint64>::min();  // neighbouring entries often share a day
    int lastOffset_ = 0;
    static constexpr int kChangeDay = 1 << 30;  // "this day has a change"
};

}  // namespace browser
