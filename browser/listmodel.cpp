#include "browser/listmodel.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QThreadPool>
#include <algorithm>

namespace browser {

namespace {
constexpr int kFreeAside = 100000;  // rows
}  // namespace

void ListChunk::append(QStringView name, QByteArrayView raw, qint64 utcSecs, qint64 size) {
    rows_.push_back({static_cast<quint32>(text_.size()), static_cast<quint32>(raw_.size()), utcSecs, size});
    text_.insert(text_.end(), name.utf16(), name.utf16() + name.size());
    raw_.insert(raw_.end(), raw.data(), raw.data() + raw.size());
}

std::unique_ptr<ListChunk> ListChunk::compacted() const {
    // Vectors made from a range hold exactly that range.
    auto out = std::make_unique<ListChunk>();
    out->rows_ = std::vector<Row>(rows_.begin(), rows_.end());
    out->text_ = std::vector<char16_t>(text_.begin(), text_.end());
    out->raw_ = std::vector<char>(raw_.begin(), raw_.end());
    return out;
}

void ListChunk::clear() {
    rows_.clear();
    text_.clear();
    raw_.clear();
}

QStringView ListChunk::nameView(int i) const {
    const size_t at = size_t(i);
    const size_t begin = rows_[at].text;
    const size_t end = at + 1 < rows_.size() ? rows_[at + 1].text : text_.size();
    return QStringView(text_.data() + begin, qsizetype(end - begin));
}

QByteArray ListChunk::rawName(int i) const {
    const size_t at = size_t(i);
    const size_t begin = rows_[at].raw;
    const size_t end = at + 1 < rows_.size() ? rows_[at + 1].raw : raw_.size();
    return QByteArray(raw_.data() + begin, qsizetype(end - begin));
}

ListModel::ListModel(QObject* parent)
    : QAbstractListModel(parent), format_(std::make_unique<browser::LineFormatter>(QLatin1Char(','))) {}

ListModel::~ListModel() = default;

int ListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

std::pair<const ListChunk*, int> ListModel::locate(int row) const {
    if (row < 0 || row >= rows_) return {nullptr, 0};
    size_t c = lastChunk_;
    if (c >= chunks_.size() || row < starts_[c] || row >= starts_[c] + chunks_[c]->count())
        c = size_t(std::upper_bound(starts_.begin(), starts_.end(), row) - starts_.begin()) - 1;
    lastChunk_ = c;
    return {chunks_[c].get(), row - starts_[c]};
}

QString ListModel::line(int row) const {
    const auto [chunk, i] = locate(row);
    if (!chunk) return QString();
    const qint64 secs = chunk->utcSecs(i);
    const QDateTime when = secs == ListChunk::kNoTime ? QDateTime() : QDateTime::fromSecsSinceEpoch(secs, Qt::UTC);
    return format_->Format(chunk->name(i), when, chunk->size(i));
}

QString ListModel::name(int row) const { return nameView(row).toString(); }

QStringView ListModel::nameView(int row) const {
    const auto [chunk, i] = locate(row);
    return chunk ? chunk->nameView(i) : QStringView();
}

QByteArray ListModel::rawName(int row) const {
    const auto [chunk, i] = locate(row);
    return chunk ? chunk->rawName(i) : QByteArray();
}

QVariant ListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_) return {};
    switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:  // what a screen reader announces for the line
            return line(index.row());
        case NameRole:
            return name(index.row());
        case RawNameRole:
            return rawName(index.row());
        default:
            return {};
    }
}

void ListModel::clear(QChar groupSep) {
    beginResetModel();
    // A long list's memory goes back to the system off this thread: that
    // alone would take the window thread tens of milliseconds.
    if (rows_ > kFreeAside && QCoreApplication::instance()) {
        auto old = std::make_shared<std::vector<std::unique_ptr<ListChunk>>>(std::move(chunks_));
        QThreadPool::globalInstance()->start([old]() mutable { old.reset(); });
    }
    chunks_.clear();
    starts_.clear();
    rows_ = 0;
    lastChunk_ = 0;
    format_ = std::make_unique<browser::LineFormatter>(groupSep);
    endResetModel();
}

void ListModel::append(std::unique_ptr<ListChunk> chunk) {
    if (!chunk || chunk->count() == 0) return;
    const int n = chunk->count();
    beginInsertRows(QModelIndex(), rows_, rows_ + n - 1);
    starts_.push_back(rows_);
    chunks_.push_back(std::move(chunk));
    rows_ += n;
    endInsertRows();
}

}  // namespace browser
