#pragma once
// The lines of the main window's list, held compactly: per entry its name
// (as text and as the server's bytes), its time and its size. The line the
// user sees is made when a view asks for it, so only visible lines cost
// formatting, and the rows arrive in chunks that the window adopts whole.
#include <QAbstractListModel>
#include <QByteArray>
#include <QString>
#include <memory>
#include <vector>

#include "browser/lineformatter.h"

namespace browser {

// Rows built off the window thread while a listing arrives, then handed to
// the model in one piece. Names are packed one after another; a row keeps
// where its name starts (it ends where the next one starts).
class ListChunk {
public:
    static constexpr qint64 kNoTime = std::numeric_limits<qint64>::min();

    void append(QStringView name, QByteArrayView raw, qint64 utcSecs, qint64 size);
    int count() const { return static_cast<int>(rows_.size()); }
    // Bytes the names take (text and raw).
    qint64 nameBytes() const { return qint64(text_.size()) * 2 + qint64(raw_.size()); }
    // The same rows in storage of exactly their size, for keeping; this
    // chunk can then be cleared and filled again in the room it has.
    std::unique_ptr<ListChunk> compacted() const;
    void clear();

    QString name(int i) const { return nameView(i).toString(); }
    QStringView nameView(int i) const;
    QByteArray rawName(int i) const;
    qint64 utcSecs(int i) const { return rows_[size_t(i)].utcSecs; }
    qint64 size(int i) const { return rows_[size_t(i)].size; }

private:
    struct Row {
        quint32 text;  // first UTF-16 unit of the name in text_
        quint32 raw;   // first byte of the name in raw_
        qint64 utcSecs;
        qint64 size;
    };
    std::vector<Row> rows_;
    std::vector<char16_t> text_;
    std::vector<char> raw_;
};

class ListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    // The entry's full name as text (QString) under NameRole, its bytes as
    // the server sent them (QByteArray) under RawNameRole.
    enum Role { NameRole = Qt::UserRole, RawNameRole };

    explicit ListModel(QObject* parent = nullptr);
    ~ListModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Empties the list; the lines that come next are formatted with
    // `groupSep` as the thousands separator and the machine's time zone.
    void clear(QChar groupSep);
    // Adds the chunk's rows at the end.
    void append(std::unique_ptr<ListChunk> chunk);

    QString line(int row) const;
    QString name(int row) const;
    // The name without a copy; valid until the model changes.
    QStringView nameView(int row) const;
    QByteArray rawName(int row) const;

private:
    // The chunk holding `row` and the row's place in it.
    std::pair<const ListChunk*, int> locate(int row) const;

    std::vector<std::unique_ptr<ListChunk>> chunks_;
    std::vector<int> starts_;  // first row of each chunk
    int rows_ = 0;
    mutable std::unique_ptr<browser::LineFormatter> format_;
    mutable size_t lastChunk_ = 0;  // views ask for neighbouring rows
};

}  // namespace browser
