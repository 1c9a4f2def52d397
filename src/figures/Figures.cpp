#include "figures/Figures.h"

#include "protocol/MessageCodes.h"

#include <QDateTime>
#include <QStringList>

#include <algorithm>
#include <numeric>

namespace velmora {
namespace {

using archive::EndedBy;
using archive::Who;

// The local hour of a time. Chats come in time order, so the last hour's
// conversion answers most of them: a year's worth without a time-zone
// lookup per chat.
int HourOf(qint64 ms)
{
    thread_local qint64 cachedStart = 1, cachedEnd = 0;
    thread_local int cachedHour = 0;
    if (ms >= cachedStart && ms < cachedEnd)
        return cachedHour;
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms);
    const QTime time = local.time();
    cachedHour = time.hour();
    cachedStart = ms - (time.minute() * 60000 + time.second() * 1000 + time.msec());
    cachedEnd = cachedStart + 3600000;
    return cachedHour;
}

QString Seconds(qint64 ms)
{
    return ms < 0 ? QString() : QString::number(double(ms) / 1000.0, 'f', 1);
}

QString EndedByText(const TChatFigures &chat)
{
    if (chat.Crashed)
        return QStringLiteral("crash");
    if (chat.StillOpen)
        return QStringLiteral("open");
    switch (chat.EndedBy) {
    case EndedBy::Visitor: return QStringLiteral("visitor");
    case EndedBy::Operator: return QStringLiteral("operator");
    case EndedBy::Network: return QStringLiteral("network error");
    case EndedBy::TransferredOut: return QStringLiteral("transferred out");
    case EndedBy::Unknown: break;
    }
    return QString();
}

// A field as RFC 4180 wants it. A visitor's text that a spreadsheet would
// run as a formula gets a leading apostrophe, so opening the export runs nothing.
QString CsvField(QString text, bool untrusted = false)
{
    if (untrusted && !text.isEmpty() && QStringLiteral("=+-@\t\r").contains(text.front()))
        text.prepend(QLatin1Char('\''));
    if (text.contains(QLatin1Char('"')) || text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('\n'))
        || text.contains(QLatin1Char('\r'))) {
        text.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        return QLatin1Char('"') + text + QLatin1Char('"');
    }
    return text;
}

QString LocalTime(qint64 ms)
{
    return ms > 0 ? QDateTime::fromMSecsSinceEpoch(ms).toString(Qt::ISODate) : QString();
}

} // namespace

TSpread SpreadOf(std::vector<qint64> values)
{
    TSpread spread;
    spread.Count = int(values.size());
    if (values.empty())
        return spread;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    // The middle value, or the mean of the two middle ones; the 90th
    // percentile by nearest rank, so it is always a time that occurred.
    spread.Median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    spread.P90 = values[std::max<size_t>(1, size_t((n * 9 + 9) / 10)) - 1];
    spread.Mean = std::accumulate(values.begin(), values.end(), qint64(0)) / qint64(n);
    return spread;
}

TChatFigures FiguresOfChat(const TArchiveChat &chat, const std::vector<TArchiveLine> &lines, int targetSeconds)
{
    TChatFigures f;
    f.Chat = chat.Id;
    f.Started = chat.Started;
    f.Ended = chat.Ended;
    f.Visitor = chat.Visitor;
    f.Email = chat.Email;
    f.Site = chat.Site;
    f.Status = chat.Status;
    f.TransferredIn = chat.Kind == server::TRANSFER_CALL;
    f.EndedBy = chat.EndedBy;
    f.StillOpen = chat.Open;
    f.Crashed = !chat.Open && !chat.EndedProperly;
    if (chat.Announced > 0) {
        f.WaitMs = std::max<qint64>(0, chat.Started - chat.Announced);
        f.HeldMs = chat.HeldFrom > 0 ? std::max<qint64>(0, chat.HeldUntil - chat.HeldFrom) : 0;
    }
    if (!chat.Open && chat.Ended > 0)
        f.DurationMs = std::max<qint64>(0, chat.Ended - chat.Started);

    std::vector<qint64> waiting; // visitor lines not yet answered
    for (const TArchiveLine &line : lines) {
        if (line.Carried)
            continue;
        if (line.From == Who::Visitor) {
            waiting.push_back(line.At);
        } else if (line.From == Who::Operator) {
            if (f.FirstResponseMs < 0)
                f.FirstResponseMs = std::max<qint64>(0, line.At - chat.Started);
            for (qint64 asked : waiting)
                f.ResponseMs.push_back(std::max<qint64>(0, line.At - asked));
            waiting.clear();
        }
    }
    f.Responses = int(f.ResponseMs.size());
    if (f.Responses > 0)
        f.MeanResponseMs = std::accumulate(f.ResponseMs.begin(), f.ResponseMs.end(), qint64(0)) / f.Responses;
    f.WithinTarget = f.FirstResponseMs >= 0 && f.FirstResponseMs <= qint64(targetSeconds) * 1000;
    return f;
}

const std::vector<int> &TFigures::DurationEdges()
{
    static const std::vector<int> edges{2, 5, 10, 15, 20, 30, 45, 60};
    return edges;
}

TFigures ComputeFigures(TArchiveDb &db, qint64 from, qint64 to, int targetSeconds)
{
    TFigures figures;
    figures.From = from;
    figures.To = to;
    figures.TargetSeconds = targetSeconds;
    figures.FirstResponsePerHour.fill(-1);
    figures.DurationBuckets.assign(TFigures::DurationEdges().size() + 1, 0);

    std::vector<TArchiveCall> calls;
    if (!db.CallsAnnounced(from, to, calls)) {
        figures.Ok = false;
        figures.Error = db.LastError();
        return figures;
    }
    std::vector<qint64> held;
    for (const TArchiveCall &call : calls) {
        if (call.Kind == server::SUPPORT_CHAT_LISTED)
            continue;
        ++figures.Announced;
        if (call.HeldFrom > 0) {
            ++figures.PutOnHold;
            held.push_back(std::max<qint64>(0, call.HeldUntil - call.HeldFrom));
        }
        if (call.Outcome == archive::CallOutcome::Accepted)
            continue;
        ++(call.Outcome == archive::CallOutcome::TakenByOther ? figures.TakenByOther : figures.Missed);
        ++figures.MissedPerHour[size_t(HourOf(call.Announced))];
    }
    figures.Held = SpreadOf(std::move(held));

    std::vector<qint64> waiting, first, responses, durations;
    std::array<std::vector<qint64>, 24> firstPerHour;
    const bool read = db.ChatsWithLineTimes(from, to, [&](const TArchiveChat &chat, const std::vector<TArchiveLine> &lines) {
        // Chats with other supporters are not the desk's work.
        if (chat.Kind == server::SUPPORT_CHAT_LISTED)
            return;
        TChatFigures f = FiguresOfChat(chat, lines, targetSeconds);
        ++figures.Accepted;
        ++figures.AcceptedPerHour[size_t(HourOf(chat.Started))];
        figures.TransferredIn += f.TransferredIn;
        if (f.Crashed)
            ++figures.EndedByCrash;
        else if (f.StillOpen)
            ++figures.StillOpen;
        else {
            switch (f.EndedBy) {
            case EndedBy::Visitor: ++figures.EndedByVisitor; break;
            case EndedBy::Operator: ++figures.EndedByOperator; break;
            case EndedBy::Network: ++figures.EndedByNetwork; break;
            case EndedBy::TransferredOut: ++figures.TransferredOut; break;
            case EndedBy::Unknown: break;
            }
        }
        if (chat.Announced == 0)
            ++figures.WithoutCallTimes;
        if (f.WaitMs >= 0)
            waiting.push_back(f.WaitMs);
        // A chat still open may yet be answered: it counts once it has ended
        // or has its first response.
        if (!f.StillOpen || f.FirstResponseMs >= 0) {
            ++figures.Answerable;
            figures.WithinTarget += f.WithinTarget;
        }
        if (f.FirstResponseMs >= 0) {
            first.push_back(f.FirstResponseMs);
            firstPerHour[size_t(HourOf(chat.Started))].push_back(f.FirstResponseMs);
        }
        responses.insert(responses.end(), f.ResponseMs.begin(), f.ResponseMs.end());
        if (f.DurationMs >= 0) {
            durations.push_back(f.DurationMs);
            const auto &edges = TFigures::DurationEdges();
            const auto bucket = std::find_if(edges.begin(), edges.end(),
                                             [&](int minutes) { return f.DurationMs < qint64(minutes) * 60000; });
            ++figures.DurationBuckets[size_t(bucket - edges.begin())];
        }
        f.ResponseMs.clear();
        f.ResponseMs.shrink_to_fit();
        figures.Chats.push_back(std::move(f));
    });
    if (!read) {
        figures.Ok = false;
        figures.Error = db.LastError();
    }
    figures.Waiting = SpreadOf(std::move(waiting));
    figures.FirstResponse = SpreadOf(std::move(first));
    figures.Response = SpreadOf(std::move(responses));
    figures.Duration = SpreadOf(std::move(durations));
    for (size_t hour = 0; hour < 24; ++hour)
        figures.FirstResponsePerHour[hour] = SpreadOf(std::move(firstPerHour[hour])).Median;
    return figures;
}

QByteArray FiguresCsv(const TFigures &figures)
{
    QStringList rows;
    rows << QStringLiteral("chat,started,ended,visitor,email,site,status,transferred in,ended by,waiting s,on hold s,"
                           "first response s,responses,mean response s,duration s,within target");
    for (const TChatFigures &c : figures.Chats) {
        const QStringList fields{QString::number(c.Chat),
                                 LocalTime(c.Started),
                                 LocalTime(c.Ended),
                                 CsvField(c.Visitor, true),
                                 CsvField(c.Email, true),
                                 CsvField(c.Site, true),
                                 CsvField(c.Status),
                                 c.TransferredIn ? QStringLiteral("yes") : QStringLiteral("no"),
                                 EndedByText(c),
                                 Seconds(c.WaitMs),
                                 Seconds(c.HeldMs),
                                 Seconds(c.FirstResponseMs),
                                 QString::number(c.Responses),
                                 Seconds(c.MeanResponseMs),
                                 Seconds(c.DurationMs),
                                 c.WithinTarget ? QStringLiteral("yes") : QStringLiteral("no")};
        rows << fields.join(QLatin1Char(','));
    }
    return (rows.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8();
}

std::pair<QDate, QDate> PeriodDays(FigurePeriod period, QDate today, QDate from, QDate to)
{
    switch (period) {
    case FigurePeriod::Today: return {today, today};
    case FigurePeriod::Yesterday: return {today.addDays(-1), today.addDays(-1)};
    case FigurePeriod::ThisWeek: return {today.addDays(1 - today.dayOfWeek()), today};
    case FigurePeriod::Last7Days: return {today.addDays(-6), today};
    case FigurePeriod::ThisMonth: return {QDate(today.year(), today.month(), 1), today};
    case FigurePeriod::Range: break;
    }
    if (!from.isValid())
        from = today;
    if (!to.isValid())
        to = from;
    return from <= to ? std::pair{from, to} : std::pair{to, from};
}

std::pair<qint64, qint64> PeriodSpan(const std::pair<QDate, QDate> &days)
{
    return {days.first.startOfDay().toMSecsSinceEpoch(), days.second.addDays(1).startOfDay().toMSecsSinceEpoch()};
}

QString FigureTime(qint64 ms)
{
    if (ms < 0)
        return QStringLiteral("–");
    const qint64 seconds = (ms + 500) / 1000;
    const auto two = [](qint64 n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); };
    if (seconds < 3600)
        return QString::number(seconds / 60) + QLatin1Char(':') + two(seconds % 60);
    return QString::number(seconds / 3600) + QLatin1Char(':') + two(seconds / 60 % 60) + QLatin1Char(':')
           + two(seconds % 60);
}

} // namespace velmora
