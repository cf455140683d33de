#include "browser/listing.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <mutex>

#include "browser/listmodel.h"
#include "browser/offthread.h"

namespace browser {

namespace {

ListLimits& limits() {
    static ListLimits l;
    return l;
}

// Chunks on their way from the listing's worker to the window thread.
struct Handover {
    std::mutex lock;
    std::vector<std::unique_ptr<ListChunk>> ready;
    std::atomic<bool> posted{false};  // the window thread has been asked to adopt them

    std::vector<std::unique_ptr<ListChunk>> take() {
        posted = false;
        const std::lock_guard<std::mutex> hold(lock);
        return std::move(ready);
    }
};

// The folder holds more than a list keeps.
struct TooMany {};

// Gathers the entries into chunks on the worker and hands each over when
// it is full or has waited long enough. The first chunks are small, so the
// first lines show at once; later ones grow, so the window adopts a long
// listing in few steps (each one makes the view lay out its rows again).
class ChunkWriter {
public:
    ChunkWriter(Handover& handover, std::function<void()> notify)
        : handover_(handover), notify_(std::move(notify)), limits_(limits()) {
        since_.start();
    }

    void add(const net::FindData& fd) {
        // A name ends at its first NUL; an entry without a name is left out.
        QStringView name = fd.cFileName;
        const qsizetype nul = name.indexOf(QChar(u'\0'));
        if (nul >= 0) name = name.first(nul);
        if (name.isEmpty()) return;
        const qint64 bytes = name.size() * 2 + fd.rawName.size();
        if (rows_ + 1 > limits_.rows || names_ + bytes > limits_.nameBytes) throw TooMany{};
        ++rows_;
        names_ += bytes;
        chunk_.append(name, fd.rawName,
                       fd.ftLastWriteTime.isValid() ? fd.ftLastWriteTime.toSecsSinceEpoch() : ListChunk::kNoTime,
                       fd.nFileSize);
        if (chunk_.count() >= target_ || chunk_.nameBytes() >= kChunkBytes ||
            ((chunk_.count() & 255) == 0 && since_.elapsed() >= (handed_ < kScreenful ? kFirstWaitMs : kWaitMs)))
            hand();
    }

    void hand() {
        if (chunk_.count() == 0) return;
        // What the list keeps is allocated once, at its size; the growing
        // happens in chunk_, whose room serves every chunk of the listing
        // (blocks outgrown one after another would stay behind as holes).
        std::unique_ptr<ListChunk> kept = chunk_.compacted();
        chunk_.clear();
        {
            const std::lock_guard<std::mutex> hold(handover_.lock);
            handover_.ready.push_back(std::move(kept));
        }
        if (!handover_.posted.exchange(true) && notify_) notify_();
        handed_ = rows_;
        target_ = std::min(target_ * 4, kMaxRows);
        since_.restart();
    }

private:
    static constexpr int kMaxRows = 1 << 18;
    static constexpr qint64 kChunkBytes = qint64{32} << 20;
    static constexpr qint64 kScreenful = 100;  // rows
    // Until the first screenful is shown, a slow server's lines wait little;
    // after it, the list grows in larger steps.
    static constexpr qint64 kFirstWaitMs = 100;
    static constexpr qint64 kWaitMs = 1000;

    Handover& handover_;
    std::function<void()> notify_;
    const ListLimits limits_;
    ListChunk chunk_;  // the chunk being filled
    int target_ = 256;
    qint64 rows_ = 0;
    qint64 handed_ = 0;  // rows handed over so far
    qint64 names_ = 0;
    QElapsedTimer since_;
};

thread_local LineInUse* t_lineInUse = nullptr;

}  // namespace

ListLimits CurrentListLimits() { return limits(); }
void SetListLimits(const ListLimits& l) { limits() = l; }

ListResult ListInto(net::Handle* hConnect, const QString& remoteFolder, QChar groupSep, ListModel& model) {
    // Shared with the queued adoptions, which may run after this returns.
    const auto handover = std::make_shared<Handover>();
    const QPointer<ListModel> target(&model);
    const auto adopt = [handover, target] {
        for (auto& chunk : handover->take())
            if (target) target->append(std::move(chunk));
    };
    // Adoption is asked for from the worker only where a window thread runs
    // an event loop meanwhile; otherwise it all happens at the end.
    const bool queued = QCoreApplication::instance() && QThread::currentThread() == model.thread();
    ListResult result = ListResult::Whole;
    RunOffUiThread(
        [&] {
            ChunkWriter writer(*handover, queued ? std::function<void()>([&model, adopt] {
                QMetaObject::invokeMethod(&model, adopt, Qt::QueuedConnection);
            })
                                                 : std::function<void()>());
            try {
                bool serverCut = false;
                if (!net::FtpListFolder(hConnect, remoteFolder, [&writer](const net::FindData& fd) { writer.add(fd); },
                                         &serverCut))
                    result = ListResult::Failed;
                else if (serverCut)
                    result = ListResult::Cut;
            } catch (const TooMany&) {
                result = ListResult::Cut;
            }
            if (result != ListResult::Failed) writer.hand();
        },
        // The old lines go while the server lists.
        [&model, groupSep] { model.clear(groupSep); });
    adopt();
    if (result == ListResult::Failed) model.clear(groupSep);
    return result;
}

std::vector<ListLine> ReadListLines(net::Handle* hConnect, const QString& remoteFolder, QChar groupSep) {
    ListModel model;
    std::vector<ListLine> lines;
    if (ListInto(hConnect, remoteFolder, groupSep, model) == ListResult::Failed) return lines;
    lines.reserve(size_t(model.rowCount()));
    for (int i = 0; i < model.rowCount(); ++i) lines.push_back({model.line(i), model.name(i), model.rawName(i)});
    return lines;
}

LineInUse::LineInUse(net::Handle* hConnect, const QString& remoteFolder, const QString& name,
                     const QByteArray& rawName)
    : connection_(hConnect), path_(remoteFolder + name), outer_(t_lineInUse) {
    const QByteArray folder = net::FtpPathBytes(hConnect, remoteFolder);
    // Without bytes of its own (or a folder the server cannot be told), the
    // line is named by its text like any other path.
    if (!rawName.isEmpty() && (!folder.isEmpty() || remoteFolder.isEmpty())) bytes_ = folder + rawName;
    t_lineInUse = this;
}

LineInUse::~LineInUse() { t_lineInUse = outer_; }

QByteArray RemotePathBytes(net::Handle* hConnect, const QString& remotePath) {
    for (const LineInUse* l = t_lineInUse; l; l = l->outer_)
        if (l->connection_ == hConnect && !l->bytes_.isEmpty() && l->path_ == remotePath) return l->bytes_;
    return net::FtpPathBytes(hConnect, remotePath);
}

bool DeleteRemoteFile(net::Handle* hConnect, const QString& remotePath) {
    const QByteArray bytes = RemotePathBytes(hConnect, remotePath);
    return !bytes.isEmpty() && net::FtpDeleteFileRaw(hConnect, bytes);
}

}  // namespace browser
