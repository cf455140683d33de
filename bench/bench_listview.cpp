// The window's list without a server: a million rows adopted in the chunks
// a listing hands over, then cleared; the longest time each step keeps the
// window thread from its event loop (layout and painting included).
//   bench_listview [rows]
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QListView>
#include <QTimer>
#include <cstdio>

#include "browser/listmodel.h"

namespace {

double settle(int ms) {
    QElapsedTimer t;
    t.start();
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return t.nsecsElapsed() / 1e6 - ms;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rows = argc > 1 ? atoi(argv[1]) : 1000000;
    browser::ListModel model;
    QListView view;
    // As the window's list is set up.
    view.setUniformItemSizes(true);
    view.setLayoutMode(QListView::Batched);
    view.setBatchSize(20000);
    view.setModel(&model);
    view.resize(613, 260);
    view.show();
    settle(100);
    for (int round = 0; round < 2; ++round) {
        QElapsedTimer t;
        t.start();
        model.clear(QLatin1Char(','));
        const double clearMs = t.nsecsElapsed() / 1e6;
        const double clearLater = settle(20);
        double worstAppend = 0, worstLater = 0;
        int target = 256, done = 0;
        while (done < rows) {
            auto chunk = std::make_unique<browser::ListChunk>();
            const int n = std::min(target, rows - done);
            for (int i = 0; i < n; ++i) {
                const QString name = QStringLiteral("file_%1 견적.dat").arg(done + i, 6, 10, QLatin1Char('0'));
                chunk->append(name, name.toUtf8(), 1672531200 + qint64(done + i) * 631, qint64(done + i) * 104729);
            }
            done += n;
            target = std::min(target * 4, 1 << 16);
            t.restart();
            model.append(std::move(chunk));
            worstAppend = std::max(worstAppend, t.nsecsElapsed() / 1e6);
            worstLater = std::max(worstLater, settle(5));
        }
        std::printf("round %d: %d rows; clear %.1f ms (+%.1f ms after), longest append %.1f ms (+%.1f ms after)\n",
                    round + 1, model.rowCount(), clearMs, clearLater, worstAppend, worstLater);
    }
    return 0;
}
