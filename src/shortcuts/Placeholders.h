#pragma once
// The placeholders of a canned answer ("Hi {visitor.first|there}"), filled
// in for one chat when the answer is put in the message box. The stored
// answer keeps them as plain text, so other consoles read the same record.
#include <QList>
#include <QString>
#include <QStringList>

class QDateTime;

namespace velmora {

// What a chat knows to fill in; an empty value counts as unknown.
struct TPlaceholderValues {
    QString Visitor; // the name as the visitor gave it
    QString Email;
    QString Site;
    QString Operator; // the support name
    QString Date;
    QString Time;
};

// Today's date and the time of day in the desktop's short formats.
void SetPlaceholderClock(TPlaceholderValues &values, const QDateTime &now);

struct TFilledText {
    QString Text;
    // Placeholders with no value and no fallback, left in the text as they
    // were written (start, length in Text) for the operator to fill in.
    QList<std::pair<int, int>> Unfilled;
};

// Replaces {visitor}, {visitor.first}, {visitor.email}, {site}, {operator},
// {date} and {time}; "{name|fallback}" takes the fallback when the value is
// unknown. Any other text in braces stays as it is. Values are put in once:
// a visitor named "{site}" stays "{site}".
TFilledText FillPlaceholders(const QString &text, const TPlaceholderValues &values);

// Each placeholder with what it stands for, for the editor's list.
QList<std::pair<QString, QString>> PlaceholderHelp();

} // namespace velmora
