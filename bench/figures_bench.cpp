// "My figures" at size: a busy desk's week (700 chats, 20,000 lines) and a
// year (40,000 chats at the same lines per chat). Measures working the
// figures out (off the GUI thread, as the window does), the window from
// asking to the charts drawn, and the longest the GUI thread went without
// running its event loop meanwhile. Medians of five runs.
//
// Run: ./figures_bench [folder]   (an archive already in the folder is reused)
#include "figures/Figures.h"
#include "figures/ui/MyFiguresWindow.h"
#include "protocol/MessageCodes.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <random>

using namespace velmora;

namespace {

// Chats spread over `days` ending today, 8:00 to 20:00, each with its lines.
void Fill(const QString &path, int chats, int lines, int days)
{
    TArchiveDb db;
    db.Open(path);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> day(0, days - 1), second(8 * 3600, 20 * 3600), gap(2, 60), wait(3, 90);
    const QDate today = QDate::currentDate();
    db.Begin();
    int written = 0;
    for (int n = 0; n < chats; ++n) {
        TArchiveChat chat;
        chat.SessionCount = n + 1;
        chat.Kind = server::CLIENT_LISTED;
        chat.Visitor = QStringLiteral("Visitor %1").arg(n);
        chat.Started = today.addDays(-day(random)).startOfDay().toMSecsSinceEpoch() + qint64(second(random)) * 1000;
        chat.Announced = chat.Started - wait(random) * 1000;
        chat.Open = false;
        chat.EndedProperly = true;
        chat.EndedBy = archive::EndedBy::Visitor;
        db.InsertCall(TArchiveCall{chat.SessionCount, chat.Kind, {}, chat.Announced, chat.Announced + 1000, 0, 0,
                                   archive::CallOutcome::Accepted});
        const qint64 id = db.InsertChat(chat);
        const int count = (lines * (n + 1)) / chats - written;
        written += count;
        qint64 at = chat.Started;
        for (int i = 0; i < count; ++i) {
            at += gap(random) * 1000;
            db.AddLine(id, TArchiveLine::Said(i % 2 ? archive::Who::Operator : archive::Who::Visitor, {},
                                              QStringLiteral("a line of the chat"), at));
        }
        db.EndChat(id, at + 5000, QStringLiteral("End Chat"), archive::EndedBy::Visitor);
        if (n % 5000 == 4999) {
            db.Commit();
            db.Begin();
        }
    }
    db.Commit();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void Measure(const char *name, const QString &path, int days)
{
    const auto span = PeriodSpan(PeriodDays(FigurePeriod::Range, {}, QDate::currentDate().addDays(1 - days),
                                            QDate::currentDate()));
    TArchiveDb db;
    db.OpenReader(path);
    std::vector<double> compute, window, stall;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer clock;
        clock.start();
        const TFigures f = ComputeFigures(db, span.first, span.second, 30);
        compute.push_back(double(clock.nsecsElapsed()) / 1e6);
        if (run == 0)
            std::printf("%s: %d chats, %d responses\n", name, f.Accepted, f.Response.Count);
    }
    for (int run = 0; run < 5; ++run) {
        TMyFiguresWindow w(path, [] { return 30; }, {});
        w.FromDate->setDate(QDate::currentDate().addDays(1 - days));
        w.ToDate->setDate(QDate::currentDate());
        w.PeriodCombo->blockSignals(true);
        w.PeriodCombo->setCurrentIndex(int(FigurePeriod::Range));
        w.PeriodCombo->blockSignals(false);
        // The longest the event loop waited between two turns while the figures came.
        QElapsedTimer clock, tick;
        qint64 longest = 0;
        QTimer beat;
        beat.setInterval(5);
        QObject::connect(&beat, &QTimer::timeout, [&] {
            longest = std::max(longest, tick.restart());
        });
        clock.start();
        tick.start();
        beat.start();
        w.ShowAndRaise();
        bool done = false;
        QObject::connect(&w, &TMyFiguresWindow::Shown, [&] { done = true; });
        while (!done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        QCoreApplication::processEvents(); // the charts' first paint
        window.push_back(double(clock.nsecsElapsed()) / 1e6);
        stall.push_back(double(std::max(longest, tick.elapsed())));
    }
    std::printf("%s: figures %.0f ms, window to charts %.0f ms, longest GUI stall %.0f ms (medians of 5)\n", name,
                Median(compute), Median(window), Median(stall));
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir scratch;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : scratch.path();
    const QString week = folder + QStringLiteral("/week.db"), year = folder + QStringLiteral("/year.db");
    if (!QFileInfo::exists(week))
        Fill(week, 700, 20000, 7);
    if (!QFileInfo::exists(year))
        Fill(year, 40000, 40000 * 20000 / 700, 365);
    Measure("week", week, 7);
    Measure("year", year, 365);
    return 0;
}
