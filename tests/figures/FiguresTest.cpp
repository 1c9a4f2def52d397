// The operator's figures on a hand-built archive whose figures are known to
// the millisecond: a chat nobody answered, one over midnight that waited on
// hold, a transferred one with carried lines, one a crash cut short, one
// recorded before the call's times were kept, and a supporter chat that must
// not count. Then the same figures off the GUI thread, the export read back
// by Python's csv module, and the window.
#include "RecordingBoxes.h"
#include "TestUtil.h"
#include "config/ui/SetupDialogs.h"
#include "figures/Figures.h"
#include "figures/FiguresLoader.h"
#include "figures/ui/MyFiguresWindow.h"
#include "protocol/MessageCodes.h"

#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QProcess>
#include <QSignalSpy>
#include <QStackedBarSeries>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace velmora;
using namespace velmora::test;
using archive::EndedBy;
using archive::Who;

namespace {

constexpr qint64 kS = 1000;
const QDate kDay(2026, 2, 10);

qint64 At(int hour, int minute, int second = 0, QDate day = kDay)
{
    return QDateTime(day, QTime(hour, minute, second)).toMSecsSinceEpoch();
}

class FiguresTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(db.Open(path), TArchiveDb::OpenResult::Ok);
        // A: answered twice, the visitor ends it.
        Chat(At(10, 0), 20 * kS, {{Who::Visitor, 5}, {Who::Operator, 15}, {Who::Visitor, 30}, {Who::Operator, 40}},
             300, EndedBy::Visitor);
        // B: never answered.
        Chat(At(10, 30), 10 * kS, {{Who::Visitor, 2}, {Who::Visitor, 4}}, 60, EndedBy::Visitor);
        // C: waited on hold, answered late, ends after midnight.
        const qint64 c = Chat(At(23, 50), 30 * kS, {{Who::Operator, 40}, {Who::Visitor, 60}, {Who::Operator, 65}},
                              30 * 60, EndedBy::Operator, 0, 25 * kS);
        // D: transferred in; the other supporter's carried lines answer nothing.
        Chat(At(11, 0), 5 * kS, {{Who::Visitor, 1, true}, {Who::OtherSupporter, 1, true}, {Who::Operator, 8},
                                 {Who::Visitor, 20}, {Who::Operator, 29}},
             120, EndedBy::Operator, server::TRANSFER_CALL);
        // E: cut short by a crash after its last line.
        Chat(At(12, 0), 10 * kS, {{Who::Visitor, 3}, {Who::Operator, 6}}, -1, EndedBy::Unknown);
        // F: transferred out; the console's own notice is no response.
        Chat(At(13, 0), 15 * kS, {{Who::Visitor, 2}, {Who::System, 5}, {Who::Operator, 12}}, 90,
             EndedBy::TransferredOut);
        // G: recorded before the call's times were kept.
        Chat(At(14, 0), -1, {{Who::Visitor, 10}, {Who::Operator, 20}}, 100, EndedBy::Unknown);
        // Not counted: a supporter chat, and a chat of the next day.
        Chat(At(15, 0), 1 * kS, {{Who::OtherSupporter, 1}, {Who::Operator, 90}}, 200, EndedBy::Operator,
             server::SUPPORT_CHAT_LISTED);
        Chat(At(0, 5, 0, kDay.addDays(1)), 1 * kS, {{Who::Operator, 1}}, 10, EndedBy::Operator);
        ASSERT_EQ(db.MarkLeftOpen(), 1);
        Call(At(10, 45), archive::CallOutcome::Missed, At(10, 45, 5), At(10, 46, 5));
        Call(At(15, 0), archive::CallOutcome::TakenByOther);
        (void)c;
    }

    struct Line {
        Who from;
        int second;
        bool carried = false;
    };

    // A chat opened at `started`, announced `waitMs` before (-1: not known),
    // ended `seconds` later (-1: left open).
    qint64 Chat(qint64 started, qint64 waitMs, const std::vector<Line> &lines, int seconds, EndedBy by, int kind = 0,
                qint64 heldMs = 0)
    {
        TArchiveChat chat;
        chat.SessionCount = ++session;
        chat.Kind = kind ? kind : server::CLIENT_LISTED;
        chat.Visitor = QStringLiteral("Visitor %1").arg(session);
        chat.Started = started;
        if (waitMs >= 0) {
            chat.Announced = started - waitMs;
            chat.Answered = chat.Announced + 2 * kS;
            if (heldMs) {
                chat.HeldFrom = started - heldMs;
                chat.HeldUntil = started;
            }
            TArchiveCall call{chat.SessionCount, chat.Kind, {}, chat.Announced, chat.Answered, chat.HeldFrom,
                              chat.HeldUntil, archive::CallOutcome::Accepted};
            EXPECT_TRUE(db.InsertCall(call));
        }
        const qint64 id = db.InsertChat(chat);
        for (const Line &line : lines) {
            TArchiveLine written = TArchiveLine::Said(line.from, {}, QStringLiteral("text"), started + line.second * kS);
            written.Carried = line.carried;
            if (line.from == Who::Operator && line.second == 40)
                written.Kind = archive::LineKind::Url;
            EXPECT_TRUE(db.AddLine(id, written));
        }
        if (seconds >= 0) {
            EXPECT_TRUE(db.EndChat(id, started + seconds * kS, QStringLiteral("End Chat"), by));
        }
        return id;
    }

    void Call(qint64 announced, archive::CallOutcome outcome, qint64 heldFrom = 0, qint64 heldUntil = 0)
    {
        EXPECT_TRUE(db.InsertCall(TArchiveCall{++session, server::CLIENT_LISTED, QStringLiteral("shop.example"),
                                               announced, announced + kS, heldFrom, heldUntil, outcome}));
    }

    static std::pair<qint64, qint64> Day() { return PeriodSpan(PeriodDays(FigurePeriod::Range, {}, kDay, kDay)); }

    QTemporaryDir dir;
    QString path = dir.filePath(QLatin1String(kArchiveFileName));
    TArchiveDb db;
    int session = 0;
};

TEST_F(FiguresTest, CountsAndTimesOfAHandBuiltDay)
{
    const auto [from, to] = Day();
    const TFigures f = ComputeFigures(db, from, to, 30);
    ASSERT_TRUE(f.Ok) << f.Error.toStdString();

    EXPECT_EQ(f.Announced, 8);
    EXPECT_EQ(f.PutOnHold, 2);
    EXPECT_EQ(f.Missed, 1);
    EXPECT_EQ(f.TakenByOther, 1);
    EXPECT_EQ(f.Accepted, 7);
    EXPECT_EQ(f.TransferredIn, 1);
    EXPECT_EQ(f.TransferredOut, 1);
    EXPECT_EQ(f.EndedByVisitor, 2);
    EXPECT_EQ(f.EndedByOperator, 2);
    EXPECT_EQ(f.EndedByNetwork, 0);
    EXPECT_EQ(f.EndedByCrash, 1);
    EXPECT_EQ(f.WithoutCallTimes, 1);

    // Waiting 5, 10, 10, 15, 20, 30 s; G has none.
    EXPECT_EQ(f.Waiting.Count, 6);
    EXPECT_EQ(f.Waiting.Median, 12500);
    EXPECT_EQ(f.Waiting.P90, 30000);
    EXPECT_EQ(f.Waiting.Mean, 15000);
    // First responses 6, 8, 12, 15, 20, 40 s; B never had one.
    EXPECT_EQ(f.FirstResponse.Count, 6);
    EXPECT_EQ(f.FirstResponse.Median, 13500);
    EXPECT_EQ(f.FirstResponse.P90, 40000);
    EXPECT_EQ(f.FirstResponse.Mean, 16833);
    // Responses 3, 5, 9, 10, 10, 10, 10 s: none to B, none to a carried line.
    EXPECT_EQ(f.Response.Count, 7);
    EXPECT_EQ(f.Response.Median, 10000);
    EXPECT_EQ(f.Response.Mean, 8142);
    // Durations 6 (the crash, to its last line), 60, 90, 100, 120, 300, 1800 s.
    EXPECT_EQ(f.Duration.Count, 7);
    EXPECT_EQ(f.Duration.Median, 100000);
    EXPECT_EQ(f.Duration.P90, 1800000);
    EXPECT_EQ(f.Duration.Mean, 353714);
    EXPECT_EQ(f.DurationBuckets, (std::vector<int>{4, 1, 1, 0, 0, 0, 1, 0, 0}));
    EXPECT_EQ(f.Held.Median, 42500);

    // Within 30 s: A, D, E, F, G; not B (never answered) nor C (40 s).
    EXPECT_EQ(f.Answerable, 7);
    EXPECT_EQ(f.WithinTarget, 5);
    EXPECT_EQ(ComputeFigures(db, from, to, 40).WithinTarget, 6);

    EXPECT_EQ(f.AcceptedPerHour[10], 2);
    EXPECT_EQ(f.AcceptedPerHour[23], 1);
    EXPECT_EQ(f.AcceptedPerHour[15], 0);
    EXPECT_EQ(f.MissedPerHour[10], 1);
    EXPECT_EQ(f.MissedPerHour[15], 1);
    EXPECT_EQ(f.FirstResponsePerHour[10], 15000);
    EXPECT_EQ(f.FirstResponsePerHour[23], 40000);
    EXPECT_EQ(f.FirstResponsePerHour[9], -1);

    // The chat over midnight belongs to its first day only.
    const auto next = PeriodSpan(PeriodDays(FigurePeriod::Range, {}, kDay.addDays(1), kDay.addDays(1)));
    EXPECT_EQ(ComputeFigures(db, next.first, next.second, 30).Accepted, 1);
}

TEST(FigurePeriods, DaysOfEachPeriodAndTimes)
{
    const QDate thursday(2026, 12, 10);
    EXPECT_EQ(PeriodDays(FigurePeriod::Yesterday, thursday), std::pair(thursday.addDays(-1), thursday.addDays(-1)));
    EXPECT_EQ(PeriodDays(FigurePeriod::ThisWeek, thursday), std::pair(QDate(2026, 12, 7), thursday));
    EXPECT_EQ(PeriodDays(FigurePeriod::Last7Days, thursday), std::pair(QDate(2026, 12, 4), thursday));
    EXPECT_EQ(PeriodDays(FigurePeriod::ThisMonth, thursday), std::pair(QDate(2026, 12, 1), thursday));
    EXPECT_EQ(PeriodDays(FigurePeriod::Range, thursday, thursday, QDate(2026, 12, 1)),
              std::pair(QDate(2026, 12, 1), thursday));
    EXPECT_EQ(FigureTime(-1), QStringLiteral("–"));
    EXPECT_EQ(FigureTime(65499), QStringLiteral("1:05"));
    EXPECT_EQ(FigureTime(3723000), QStringLiteral("1:02:03"));
    const TSpread one = SpreadOf({7});
    EXPECT_EQ(one.Median, 7);
    EXPECT_EQ(one.P90, 7);
}

TEST_F(FiguresTest, LoaderWorksOffTheGuiThreadAndDropsSupersededRequests)
{
    TFiguresLoader loader(path);
    QSignalSpy loaded(&loader, &TFiguresLoader::Loaded);
    const auto [from, to] = Day();
    loader.Load(0, 1, 30);
    loader.Load(from, to, 30);
    ASSERT_TRUE(WaitFor([&] { return loaded.count() >= 1; }));
    RunFor(200);
    ASSERT_EQ(loaded.count(), 1);
    const TFigures f = loaded.at(0).at(0).value<TFigures>();
    EXPECT_EQ(f.From, from);
    EXPECT_EQ(f.Accepted, 7);

    // No file yet is no failure: there is simply nothing to count.
    TFiguresLoader empty(dir.filePath(QStringLiteral("none.db")));
    QSignalSpy none(&empty, &TFiguresLoader::Loaded);
    empty.Load(from, to, 30);
    ASSERT_TRUE(WaitFor([&] { return none.count() == 1; }));
    EXPECT_TRUE(none.at(0).at(0).value<TFigures>().Ok);
}

TEST_F(FiguresTest, CsvIsReadBackByPythonsCsvModule)
{
    TArchiveChat odd;
    odd.SessionCount = 99;
    odd.Kind = server::CLIENT_LISTED;
    odd.Visitor = QStringLiteral("Zoë \"Z\" Ünal,\r\nsecond line");
    odd.Email = QStringLiteral("=HYPERLINK(\"x\")");
    odd.Site = QStringLiteral("日本.example");
    odd.Started = At(16, 0);
    odd.Announced = odd.Started - 3 * kS;
    const qint64 id = db.InsertChat(odd);
    ASSERT_TRUE(db.EndChat(id, odd.Started + 50 * kS, QStringLiteral("End, \"Chat\""), EndedBy::Visitor));
    const auto [from, to] = Day();
    const QString csv = dir.filePath(QStringLiteral("figures.csv"));
    QFile out(csv);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(FiguresCsv(ComputeFigures(db, from, to, 30)));
    out.close();

    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"), QStringLiteral("import csv, json, sys\n"
                                                       "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
                                                       "    print(json.dumps(list(csv.reader(f, strict=True))))"),
                  csv});
    ASSERT_TRUE(python.waitForFinished(30000));
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    const QJsonArray rows = QJsonDocument::fromJson(python.readAllStandardOutput()).array();
    ASSERT_EQ(rows.size(), 9); // the header and eight chats
    const QJsonArray header = rows.at(0).toArray();
    for (const QJsonValue &row : rows)
        EXPECT_EQ(row.toArray().size(), header.size());
    EXPECT_EQ(header.at(0).toString(), QStringLiteral("chat"));
    const QJsonArray last = rows.at(8).toArray();
    const auto field = [&](const char *name) {
        for (int i = 0; i < header.size(); ++i)
            if (header.at(i).toString() == QLatin1String(name))
                return last.at(i).toString();
        return QStringLiteral("(no column)");
    };
    EXPECT_EQ(field("visitor"), odd.Visitor);
    EXPECT_EQ(field("email"), QStringLiteral("'=HYPERLINK(\"x\")")); // never a formula
    EXPECT_EQ(field("site"), odd.Site);
    EXPECT_EQ(field("status"), QStringLiteral("End, \"Chat\""));
    EXPECT_EQ(field("waiting s"), QStringLiteral("3.0"));
    EXPECT_EQ(field("first response s"), QString()); // never answered
    EXPECT_EQ(field("duration s"), QStringLiteral("50.0"));
    EXPECT_EQ(field("ended by"), QStringLiteral("visitor"));
    EXPECT_EQ(field("within target"), QStringLiteral("no"));
}

TEST_F(FiguresTest, WindowShowsTheChosenRangeAndReportsAFailedExport)
{
    RecordingBoxes boxes;
    TMyFiguresWindow window(path, [] { return 30; }, {});
    QSignalSpy shown(&window, &TMyFiguresWindow::Shown);
    window.ShowAndRaise();
    ASSERT_TRUE(WaitFor([&] { return shown.count() >= 1; }));
    window.FromDate->setDate(kDay);
    window.ToDate->setDate(kDay);
    window.PeriodCombo->setCurrentIndex(int(FigurePeriod::Range));
    ASSERT_TRUE(WaitFor([&] { return !window.Waiting() && window.Figures().Accepted == 7; }));
    EXPECT_TRUE(window.TimesLabel->text().contains(QStringLiteral("71%"))) << window.TimesLabel->text().toStdString();
    EXPECT_TRUE(window.NoteLabel->text().contains(QStringLiteral("1 of these chats")));

    const auto *bars = qobject_cast<QStackedBarSeries *>(window.HoursChart->chart()->series().value(0));
    ASSERT_TRUE(bars);
    EXPECT_EQ(bars->barSets().at(0)->at(10), 2);
    EXPECT_EQ(bars->barSets().at(1)->at(15), 1);
    EXPECT_EQ(window.FirstResponseChart->chart()->series().size(), 3);

    EXPECT_TRUE(window.SaveCharts(dir.filePath(QStringLiteral("charts.png"))));
    EXPECT_FALSE(QImage(dir.filePath(QStringLiteral("charts.png"))).isNull());
    EXPECT_FALSE(window.ExportCsv(dir.filePath(QStringLiteral("missing/folder/figures.csv"))));
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.shown.at(0).text.contains(QStringLiteral("could not be saved")));
}

} // namespace
