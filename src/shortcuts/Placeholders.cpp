#include "shortcuts/Placeholders.h"

#include <QDateTime>
#include <QLocale>

#include <optional>

namespace velmora {

namespace {

// A fallback longer than this is taken for ordinary text in braces.
constexpr qsizetype kMaxPlaceholder = 200;

// A value goes into the operator's message as one line: a visitor's name
// must not bring line breaks or control characters along.
QString OneLine(const QString &value)
{
    QString out = value;
    for (QChar &c : out)
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    return out.simplified();
}

std::optional<QString> ValueOf(QStringView name, const TPlaceholderValues &v)
{
    if (name == u"visitor")
        return OneLine(v.Visitor);
    if (name == u"visitor.first")
        return OneLine(v.Visitor).section(QLatin1Char(' '), 0, 0);
    if (name == u"visitor.email")
        return OneLine(v.Email);
    if (name == u"site")
        return OneLine(v.Site);
    if (name == u"operator")
        return OneLine(v.Operator);
    if (name == u"date")
        return OneLine(v.Date);
    if (name == u"time")
        return OneLine(v.Time);
    return std::nullopt;
}

} // namespace

void SetPlaceholderClock(TPlaceholderValues &values, const QDateTime &now)
{
    const QLocale locale = QLocale::system();
    values.Date = locale.toString(now.date(), QLocale::ShortFormat);
    values.Time = locale.toString(now.time(), QLocale::ShortFormat);
}

TFilledText FillPlaceholders(const QString &text, const TPlaceholderValues &values)
{
    TFilledText out;
    out.Text.reserve(text.size());
    qsizetype at = 0;
    while (at < text.size()) {
        const qsizetype open = text.indexOf(QLatin1Char('{'), at);
        if (open < 0)
            break;
        out.Text += QStringView(text).mid(at, open - at);
        // The nearest "}" with no "{" or line break before it.
        qsizetype close = open + 1;
        while (close < text.size() && close - open <= kMaxPlaceholder && text.at(close) != QLatin1Char('}')
               && text.at(close) != QLatin1Char('{') && text.at(close) != QLatin1Char('\n')
               && text.at(close) != QLatin1Char('\r'))
            ++close;
        if (close >= text.size() || text.at(close) != QLatin1Char('}')) {
            out.Text += QLatin1Char('{');
            at = open + 1;
            continue;
        }
        const QStringView inside = QStringView(text).mid(open + 1, close - open - 1);
        const qsizetype bar = inside.indexOf(QLatin1Char('|'));
        const QStringView name = bar < 0 ? inside : inside.left(bar);
        const std::optional<QString> value = ValueOf(name.trimmed(), values);
        const QStringView whole = QStringView(text).mid(open, close - open + 1);
        if (!value) {
            out.Text += whole; // not ours: an old answer's braces stay
        } else if (!value->isEmpty()) {
            out.Text += *value;
        } else if (bar >= 0) {
            out.Text += inside.mid(bar + 1);
        } else {
            out.Unfilled.append({int(out.Text.size()), int(whole.size())});
            out.Text += whole;
        }
        at = close + 1;
    }
    out.Text += QStringView(text).mid(at);
    return out;
}

QList<std::pair<QString, QString>> PlaceholderHelp()
{
    return {
        {QStringLiteral("{visitor}"), QStringLiteral("the visitor's name as given")},
        {QStringLiteral("{visitor.first}"), QStringLiteral("the first word of the visitor's name")},
        {QStringLiteral("{visitor.email}"), QStringLiteral("the visitor's e-mail address")},
        {QStringLiteral("{site}"), QStringLiteral("the site the visitor calls from")},
        {QStringLiteral("{operator}"), QStringLiteral("your support name")},
        {QStringLiteral("{date}"), QStringLiteral("today's date")},
        {QStringLiteral("{time}"), QStringLiteral("the time of day")},
        {QStringLiteral("{visitor.first|there}"), QStringLiteral("\"there\" when the name is not known")},
    };
}

} // namespace velmora
