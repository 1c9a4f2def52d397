#include "figures/ui/MyFiguresWindow.h"

#include "config/ui/SetupDialogs.h"
#include "diag/Boxes.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QCursor>
#include <QDateEdit>
#include <QDir>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPushButton>
#include <QSaveFile>
#include <QScatterSeries>
#include <QShortcut>
#include <QStackedBarSeries>
#include <QToolTip>
#include <QValueAxis>
#include <QVBoxLayout>

#include <cmath>

namespace velmora {
namespace {

const QString kCaption = QStringLiteral("My figures");

QString HourText(int hour)
{
    return QStringLiteral("%1:00–%2:00").arg(hour, 2, 10, QLatin1Char('0')).arg(hour + 1, 2, 10, QLatin1Char('0'));
}

QString SpreadRow(const QString &name, const TSpread &spread)
{
    return QStringLiteral("<tr><td>%1</td><td align=right>%2</td><td align=right>%3</td><td align=right>%4</td>"
                          "<td align=right>%5</td></tr>")
        .arg(name, FigureTime(spread.Median), FigureTime(spread.P90), FigureTime(spread.Mean),
             QString::number(spread.Count));
}

QChartView *MakeView(const QString &name, QWidget *parent)
{
    auto *view = new QChartView(new QChart, parent);
    view->setObjectName(name);
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumHeight(220);
    view->chart()->legend()->setAlignment(Qt::AlignBottom);
    return view;
}

// The view's chart emptied of the last period's series and axes.
QChart *Cleared(QChartView *view, const QString &title)
{
    QChart *chart = view->chart();
    chart->removeAllSeries();
    for (QAbstractAxis *axis : chart->axes()) {
        chart->removeAxis(axis);
        delete axis;
    }
    chart->setTitle(title);
    return chart;
}

// Whole numbers only: 0 to a round top with a tick on each step.
QValueAxis *CountAxis(int most)
{
    auto *y = new QValueAxis;
    const int step = most <= 5 ? 1 : most <= 10 ? 2 : int(std::ceil(most / 5.0));
    const int ticks = std::max(1, (most + step - 1) / step);
    y->setRange(0, ticks * step);
    y->setTickCount(ticks + 1);
    y->setLabelFormat(QStringLiteral("%d"));
    return y;
}

void ShowTip(const QString &text)
{
    QToolTip::showText(QCursor::pos(), text);
}

} // namespace

TMyFiguresWindow::TMyFiguresWindow(const QString &archivePath, std::function<int()> targetSeconds,
                                   std::function<void()> help, QWidget *parent)
    : QWidget(parent, Qt::Window), m_loader(archivePath), m_target(std::move(targetSeconds))
{
    setObjectName(QStringLiteral("MyFiguresWindow"));
    setWindowTitle(kCaption);
    resize(960, 820);

    PeriodCombo = new QComboBox(this);
    PeriodCombo->setObjectName(QStringLiteral("PeriodCombo"));
    PeriodCombo->addItems({QStringLiteral("Today"), QStringLiteral("Yesterday"), QStringLiteral("This week"),
                           QStringLiteral("Last 7 days"), QStringLiteral("This month"), QStringLiteral("Range")});
    FromDate = new QDateEdit(QDate::currentDate(), this);
    ToDate = new QDateEdit(QDate::currentDate(), this);
    for (QDateEdit *edit : {FromDate, ToDate}) {
        edit->setCalendarPopup(true);
        edit->setEnabled(false);
    }
    ExportCsvBtn = new QPushButton(QStringLiteral("Export &CSV..."), this);
    SaveChartsBtn = new QPushButton(QStringLiteral("Save charts as &PNG..."), this);
    HelpBtn = new QPushButton(QStringLiteral("&Help"), this);
    auto *period = new QLabel(QStringLiteral("&Period:"), this);
    period->setBuddy(PeriodCombo);

    StateLabel = new QLabel(this);
    CountsLabel = new QLabel(this);
    TimesLabel = new QLabel(this);
    NoteLabel = new QLabel(this);
    for (QLabel *label : {StateLabel, CountsLabel, TimesLabel, NoteLabel}) {
        label->setTextFormat(Qt::RichText);
        label->setWordWrap(true);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    NoteLabel->setTextFormat(Qt::PlainText);

    m_charts = new QWidget(this);
    HoursChart = MakeView(QStringLiteral("HoursChart"), m_charts);
    FirstResponseChart = MakeView(QStringLiteral("FirstResponseChart"), m_charts);
    DurationsChart = MakeView(QStringLiteral("DurationsChart"), m_charts);
    auto *chartGrid = new QGridLayout(m_charts);
    chartGrid->setContentsMargins(0, 0, 0, 0);
    chartGrid->addWidget(HoursChart, 0, 0, 1, 2);
    chartGrid->addWidget(FirstResponseChart, 1, 0);
    chartGrid->addWidget(DurationsChart, 1, 1);

    auto *top = new QHBoxLayout;
    top->addWidget(period);
    top->addWidget(PeriodCombo);
    top->addWidget(FromDate);
    top->addWidget(new QLabel(QStringLiteral("to"), this));
    top->addWidget(ToDate);
    top->addStretch(1);
    top->addWidget(ExportCsvBtn);
    top->addWidget(SaveChartsBtn);
    top->addWidget(HelpBtn);
    auto *numbers = new QHBoxLayout;
    numbers->addWidget(CountsLabel, 1);
    numbers->addWidget(TimesLabel, 1);
    auto *column = new QVBoxLayout(this);
    column->addLayout(top);
    column->addWidget(StateLabel);
    column->addLayout(numbers);
    column->addWidget(m_charts, 1);
    column->addWidget(NoteLabel);

    connect(PeriodCombo, &QComboBox::currentIndexChanged, this, [this](int index) {
        const bool range = FigurePeriod(index) == FigurePeriod::Range;
        FromDate->setEnabled(range);
        ToDate->setEnabled(range);
        Reload();
    });
    for (QDateEdit *edit : {FromDate, ToDate})
        connect(edit, &QDateEdit::dateChanged, this, [this] {
            if (FromDate->isEnabled())
                Reload();
        });
    connect(&m_loader, &TFiguresLoader::Loaded, this, [this](const TFigures &figures) { Show(figures); });
    connect(ExportCsvBtn, &QPushButton::clicked, this, [this] {
        const QString path = SetupDialogs().SaveFile(this, QStringLiteral("CSV files (*.csv *.CSV)"), QDir::homePath());
        if (!path.isEmpty())
            ExportCsv(path);
    });
    connect(SaveChartsBtn, &QPushButton::clicked, this, [this] {
        const QString path = SetupDialogs().SaveFile(this, QStringLiteral("PNG images (*.png *.PNG)"), QDir::homePath());
        if (!path.isEmpty())
            SaveCharts(path);
    });
    connect(HelpBtn, &QPushButton::clicked, this, [help] {
        if (help)
            help();
    });
    new QShortcut(QKeySequence::HelpContents, this, this, [help] {
        if (help)
            help();
    });
    new QShortcut(QKeySequence::Refresh, this, this, [this] { Reload(); });
}

void TMyFiguresWindow::ShowAndRaise()
{
    show();
    raise();
    activateWindow();
    Reload();
}

void TMyFiguresWindow::Reload()
{
    const auto days = PeriodDays(FigurePeriod(PeriodCombo->currentIndex()), QDate::currentDate(), FromDate->date(),
                                 ToDate->date());
    const auto [from, to] = PeriodSpan(days);
    m_waiting = true;
    StateLabel->setText(QStringLiteral("Working out the figures for %1 to %2…")
                            .arg(QLocale().toString(days.first, QLocale::ShortFormat),
                                 QLocale().toString(days.second, QLocale::ShortFormat)));
    m_loader.Load(from, to, m_target ? m_target() : 30);
}

void TMyFiguresWindow::Show(const TFigures &figures)
{
    m_waiting = false;
    m_figures = figures;
    const QLocale locale;
    const QDate first = QDateTime::fromMSecsSinceEpoch(figures.From).date();
    const QDate last = QDateTime::fromMSecsSinceEpoch(figures.To - 1).date();
    const QString period = first == last ? locale.toString(first, QLocale::LongFormat)
                                         : locale.toString(first, QLocale::ShortFormat) + QStringLiteral(" to ")
                                               + locale.toString(last, QLocale::ShortFormat);
    if (!figures.Ok)
        StateLabel->setText(QStringLiteral("<b>The archive could not be read:</b> ") + figures.Error.toHtmlEscaped()
                            + QStringLiteral(" (F5 tries again)"));
    else
        StateLabel->setText(QStringLiteral("<b>%1</b> · %2 chats").arg(period.toHtmlEscaped()).arg(figures.Chats.size()));

    const auto row = [](const QString &name, const QString &value) {
        return QStringLiteral("<tr><td>%1</td><td align=right>%2</td></tr>").arg(name, value);
    };
    const auto n = [](int value) { return QString::number(value); };
    CountsLabel->setText(QStringLiteral("<table cellspacing=2>") + row(QStringLiteral("Calls announced"), n(figures.Announced))
                         + row(QStringLiteral("Chats accepted"), n(figures.Accepted))
                         + row(QStringLiteral("Put on hold"), n(figures.PutOnHold))
                         + row(QStringLiteral("Taken by another supporter"), n(figures.TakenByOther))
                         + row(QStringLiteral("Missed"), n(figures.Missed))
                         + row(QStringLiteral("Transferred in / out"),
                               n(figures.TransferredIn) + QStringLiteral(" / ") + n(figures.TransferredOut))
                         + row(QStringLiteral("Ended by the visitor"), n(figures.EndedByVisitor))
                         + row(QStringLiteral("Ended by you"), n(figures.EndedByOperator))
                         + row(QStringLiteral("Ended by a network error"), n(figures.EndedByNetwork))
                         + row(QStringLiteral("Cut short by a crash"), n(figures.EndedByCrash))
                         + QStringLiteral("</table>"));
    TimesLabel->setText(
        QStringLiteral("<table cellspacing=2><tr><th></th><th>median</th><th>90%</th><th>mean</th><th>of</th></tr>")
        + SpreadRow(QStringLiteral("Waiting time"), figures.Waiting)
        + SpreadRow(QStringLiteral("First response"), figures.FirstResponse)
        + SpreadRow(QStringLiteral("Response time"), figures.Response)
        + SpreadRow(QStringLiteral("Chat duration"), figures.Duration)
        + SpreadRow(QStringLiteral("Time on hold"), figures.Held) + QStringLiteral("</table><p>")
        + QStringLiteral("<b>%1%</b> of %2 chats answered within %3 s")
              .arg(qRound(figures.ShareWithinTarget() * 100))
              .arg(figures.Answerable)
              .arg(figures.TargetSeconds)
        + QStringLiteral("</p>"));
    NoteLabel->setText(
        figures.WithoutCallTimes > 0
            ? QStringLiteral("%1 of these chats were recorded before the console kept the calls' times: they are not "
                             "in the waiting times, the calls, the hold figures or who ended them.")
                  .arg(figures.WithoutCallTimes)
            : QString());
    NoteLabel->setVisible(figures.WithoutCallTimes > 0);
    DrawHours();
    DrawFirstResponse();
    DrawDurations();
    emit Shown();
}

void TMyFiguresWindow::Style(QChart *chart)
{
    const QPalette p = palette();
    chart->setBackgroundBrush(p.base());
    chart->setTitleBrush(p.text());
    chart->legend()->setLabelBrush(p.text());
    QFont title = font();
    title.setBold(true);
    chart->setTitleFont(title);
    chart->legend()->setFont(font());
    for (QAbstractAxis *axis : chart->axes()) {
        axis->setLabelsBrush(p.text());
        axis->setLabelsFont(font());
        axis->setTitleBrush(p.text());
        axis->setTitleFont(font());
        axis->setLinePenColor(p.color(QPalette::Text));
        axis->setGridLineColor(p.color(QPalette::Mid));
    }
}

void TMyFiguresWindow::DrawHours()
{
    QChart *chart = Cleared(HoursChart, QStringLiteral("Chats per hour of the day"));
    auto *accepted = new QBarSet(QStringLiteral("Accepted"));
    auto *missed = new QBarSet(QStringLiteral("Missed or taken by another"));
    QStringList hours;
    int most = 0;
    for (int hour = 0; hour < 24; ++hour) {
        *accepted << m_figures.AcceptedPerHour[size_t(hour)];
        *missed << m_figures.MissedPerHour[size_t(hour)];
        most = std::max(most, m_figures.AcceptedPerHour[size_t(hour)] + m_figures.MissedPerHour[size_t(hour)]);
        hours << QString::number(hour);
    }
    // Told apart by the pattern as well as the colour, in any palette.
    accepted->setBrush(palette().color(QPalette::Highlight));
    accepted->setBorderColor(palette().color(QPalette::Text));
    missed->setBrush(QBrush(palette().color(QPalette::Text), Qt::BDiagPattern));
    missed->setBorderColor(palette().color(QPalette::Text));
    auto *series = new QStackedBarSeries;
    series->append(accepted);
    series->append(missed);
    chart->addSeries(series);
    auto *x = new QBarCategoryAxis;
    x->append(hours);
    QValueAxis *y = CountAxis(most);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    series->attachAxis(x);
    series->attachAxis(y);
    connect(series, &QStackedBarSeries::hovered, this, [this](bool on, int hour, QBarSet *) {
        if (!on || hour < 0 || hour > 23)
            return QToolTip::hideText();
        ShowTip(QStringLiteral("%1\n%2 accepted, %3 missed or taken by another")
                    .arg(HourText(hour))
                    .arg(m_figures.AcceptedPerHour[size_t(hour)])
                    .arg(m_figures.MissedPerHour[size_t(hour)]));
    });
    Style(chart);
}

void TMyFiguresWindow::DrawFirstResponse()
{
    QChart *chart = Cleared(FirstResponseChart, QStringLiteral("First response per hour (median, seconds)"));
    auto *line = new QLineSeries;
    line->setName(QStringLiteral("First response"));
    auto *points = new QScatterSeries;
    points->setName(QString());
    double most = m_figures.TargetSeconds;
    for (int hour = 0; hour < 24; ++hour) {
        const qint64 ms = m_figures.FirstResponsePerHour[size_t(hour)];
        if (ms < 0)
            continue;
        const QPointF point(hour + 0.5, double(ms) / 1000.0);
        line->append(point);
        points->append(point);
        most = std::max(most, point.y());
    }
    QPen pen(palette().color(QPalette::Highlight));
    pen.setWidthF(2.5);
    line->setPen(pen);
    points->setColor(palette().color(QPalette::Highlight));
    points->setBorderColor(palette().color(QPalette::Text));
    points->setMarkerSize(9);
    auto *target = new QLineSeries;
    target->setName(QStringLiteral("Target (%1 s)").arg(m_figures.TargetSeconds));
    target->append(0, m_figures.TargetSeconds);
    target->append(24, m_figures.TargetSeconds);
    QPen dashed(palette().color(QPalette::Text));
    dashed.setStyle(Qt::DashLine);
    dashed.setWidthF(1.5);
    target->setPen(dashed);
    for (QAbstractSeries *series : {static_cast<QAbstractSeries *>(line), static_cast<QAbstractSeries *>(points),
                                    static_cast<QAbstractSeries *>(target)})
        chart->addSeries(series);
    chart->legend()->markers(points).value(0)->setVisible(false);
    auto *x = new QValueAxis;
    x->setRange(0, 24);
    x->setTickCount(9);
    x->setLabelFormat(QStringLiteral("%d"));
    x->setTitleText(QStringLiteral("hour"));
    auto *y = new QValueAxis;
    y->setRange(0, most * 1.1);
    y->applyNiceNumbers();
    y->setLabelFormat(QStringLiteral("%d"));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    for (QAbstractSeries *series : chart->series()) {
        series->attachAxis(x);
        series->attachAxis(y);
    }
    const auto tip = [this](const QPointF &point, bool on) {
        const int hour = std::clamp(int(point.x()), 0, 23);
        if (!on || m_figures.FirstResponsePerHour[size_t(hour)] < 0)
            return QToolTip::hideText();
        ShowTip(QStringLiteral("%1\nmedian first response %2 (target %3 s)")
                    .arg(HourText(hour), FigureTime(m_figures.FirstResponsePerHour[size_t(hour)]))
                    .arg(m_figures.TargetSeconds));
    };
    connect(points, &QScatterSeries::hovered, this, tip);
    connect(line, &QLineSeries::hovered, this, tip);
    Style(chart);
}

void TMyFiguresWindow::DrawDurations()
{
    QChart *chart = Cleared(DurationsChart, QStringLiteral("Chat durations"));
    const std::vector<int> &edges = TFigures::DurationEdges();
    QStringList labels;
    for (size_t i = 0; i <= edges.size(); ++i)
        labels << (i == edges.size() ? QStringLiteral("%1+").arg(edges.back()) : QString::number(edges[i]));
    auto *chats = new QBarSet(QStringLiteral("Chats (minutes)"));
    int most = 0;
    for (int count : m_figures.DurationBuckets) {
        *chats << count;
        most = std::max(most, count);
    }
    chats->setBrush(palette().color(QPalette::Highlight));
    chats->setBorderColor(palette().color(QPalette::Text));
    auto *series = new QBarSeries;
    series->setBarWidth(0.95);
    series->append(chats);
    chart->addSeries(series);
    auto *x = new QBarCategoryAxis;
    x->append(labels);
    // Short labels, so all nine stay whole in half the window at any scale.
    x->setTitleText(QStringLiteral("minutes, up to"));
    QValueAxis *y = CountAxis(most);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    series->attachAxis(x);
    series->attachAxis(y);
    connect(series, &QBarSeries::hovered, this, [this](bool on, int bucket, QBarSet *) {
        if (!on || bucket < 0 || size_t(bucket) >= m_figures.DurationBuckets.size())
            return QToolTip::hideText();
        const auto &edges = TFigures::DurationEdges();
        const QString range = size_t(bucket) == edges.size() ? QStringLiteral("%1 minutes or more").arg(edges.back())
                              : bucket == 0 ? QStringLiteral("under %1 minutes").arg(edges[0])
                                            : QStringLiteral("%1 to %2 minutes").arg(edges[size_t(bucket) - 1]).arg(edges[size_t(bucket)]);
        ShowTip(QStringLiteral("%1: %2 chats").arg(range).arg(m_figures.DurationBuckets[size_t(bucket)]));
    });
    Style(chart);
}

bool TMyFiguresWindow::ExportCsv(const QString &path)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(FiguresCsv(m_figures)) >= 0 && file.commit())
        return true;
    ShowBox(QStringLiteral("The figures could not be saved as %1:\n%2").arg(path, file.errorString()), kCaption,
            BoxIcon::Error, BoxButtons::Ok, this);
    return false;
}

bool TMyFiguresWindow::SaveCharts(const QString &path)
{
    if (m_charts->grab().save(path, "PNG"))
        return true;
    ShowBox(QStringLiteral("The charts could not be saved as %1.").arg(path), kCaption, BoxIcon::Error,
            BoxButtons::Ok, this);
    return false;
}

void TMyFiguresWindow::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    // A theme switched to high contrast while the window is open.
    if (event->type() == QEvent::PaletteChange && !m_waiting)
        Show(m_figures);
}

} // namespace velmora
