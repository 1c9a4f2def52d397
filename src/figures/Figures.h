#pragma once
// The operator's own figures, worked out from the archive: counts of calls
// and chats, waiting and response times, the share answered within the
// target, and the per-hour and duration series the charts draw. Plain
// structs and functions, no widgets and no threads: FiguresLoader.h runs
// them off the GUI thread.
//
// Times are ms since the epoch; a figure that is not known is -1. A chat
// belongs to the day and hour it opened, even when it ends after midnight.
#include "archive/ArchiveDb.h"

#include <QByteArray>
#include <QDate>
#include <QString>

#include <array>
#include <vector>

namespace velmora {

// Median, 90th percentile and mean of some durations (ms); -1 when there are none.
struct TSpread {
    int Count = 0;
    qint64 Median = -1, P90 = -1, Mean = -1;
};
TSpread SpreadOf(std::vector<qint64> values);

// One chat's figures: a row of the export.
struct TChatFigures {
    qint64 Chat = 0;
    qint64 Started = 0, Ended = 0;
    QString Visitor, Email, Site, Status;
    bool TransferredIn = false;
    archive::EndedBy EndedBy = archive::EndedBy::Unknown;
    bool Crashed = false;     // a crash left it open; it ends at its last line
    bool StillOpen = false;
    qint64 WaitMs = -1;       // announced -> the chat opened
    qint64 HeldMs = -1;       // on hold before it opened; 0: never held
    qint64 FirstResponseMs = -1;
    int Responses = 0;
    qint64 MeanResponseMs = -1;
    qint64 DurationMs = -1;
    bool WithinTarget = false;
    std::vector<qint64> ResponseMs; // each answered visitor line
};

// Reads one chat's lines. Carried lines (a transfer's earlier conversation)
// are neither prompts nor responses; the console's own notices are not
// responses; the operator's lines of every kind (text, canned answers,
// pushed URLs, pictures) are.
TChatFigures FiguresOfChat(const TArchiveChat &chat, const std::vector<TArchiveLine> &lines, int targetSeconds);

struct TFigures {
    qint64 From = 0, To = 0;
    int TargetSeconds = 30;
    bool Ok = true;
    QString Error;

    // Calls (announced in the period; only those recorded with their times).
    int Announced = 0, PutOnHold = 0, TakenByOther = 0, Missed = 0;
    // Chats (opened in the period).
    int Accepted = 0, TransferredIn = 0, TransferredOut = 0;
    int EndedByVisitor = 0, EndedByOperator = 0, EndedByNetwork = 0, EndedByCrash = 0, StillOpen = 0;
    // Chats recorded before the call's times were kept: no waiting time, no
    // "ended by", not in the hold count.
    int WithoutCallTimes = 0;

    TSpread Waiting, FirstResponse, Response, Duration, Held;
    int Answerable = 0, WithinTarget = 0; // chats and those answered within the target

    std::array<int, 24> AcceptedPerHour{}, MissedPerHour{};
    std::array<qint64, 24> FirstResponsePerHour{}; // median ms; -1: no chat that hour
    // Durations: chats per bucket, the bucket's upper edge in minutes (the last open).
    std::vector<int> DurationBuckets;
    static const std::vector<int> &DurationEdges();

    std::vector<TChatFigures> Chats;

    double ShareWithinTarget() const { return Answerable ? double(WithinTarget) / Answerable : 0.0; }
};

// Everything for [from, to), read from an open archive connection.
TFigures ComputeFigures(TArchiveDb &db, qint64 from, qint64 to, int targetSeconds);

// The export: one row per chat, every figure, RFC 4180 (CRLF, quotes doubled), UTF-8, a header row.
QByteArray FiguresCsv(const TFigures &figures);

enum class FigurePeriod { Today, Yesterday, ThisWeek, Last7Days, ThisMonth, Range };
// The first and last day (inclusive, local) of a period; a range is used as
// given, its ends swapped when reversed.
std::pair<QDate, QDate> PeriodDays(FigurePeriod period, QDate today, QDate from = {}, QDate to = {});
// [from, to) in ms for whole local days.
std::pair<qint64, qint64> PeriodSpan(const std::pair<QDate, QDate> &days);

// "0:42", "12:05", "1:02:03"; "–" for a figure not known.
QString FigureTime(qint64 ms);

} // namespace velmora
