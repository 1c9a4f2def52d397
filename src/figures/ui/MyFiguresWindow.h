#pragma once
// "My figures": the operator's own counts and times for a period, and three
// charts (chats per hour, first response per hour against the target, chat
// durations), with the rows exported as CSV and the charts as PNG. The
// figures are worked out by TFiguresLoader off the GUI thread; this window
// only asks and shows.
#include "figures/FiguresLoader.h"

#include <QWidget>

#include <functional>

class QChart;
class QChartView;
class QComboBox;
class QDateEdit;
class QLabel;
class QPushButton;

namespace velmora {

class TMyFiguresWindow : public QWidget {
    Q_OBJECT
public:
    // `targetSeconds` reads the response target when figures are asked for;
    // `help` opens the window's help page.
    TMyFiguresWindow(const QString &archivePath, std::function<int()> targetSeconds, std::function<void()> help,
                     QWidget *parent = nullptr);

    void ShowAndRaise();
    // Works the figures out again for the chosen period.
    void Reload();
    const TFigures &Figures() const { return m_figures; }
    bool Waiting() const { return m_waiting; }

    // Writes the shown figures' rows / the charts; an error is shown in a box.
    bool ExportCsv(const QString &path);
    bool SaveCharts(const QString &path);

    QComboBox *PeriodCombo;
    QDateEdit *FromDate, *ToDate;
    QPushButton *ExportCsvBtn, *SaveChartsBtn, *HelpBtn;
    QLabel *StateLabel, *CountsLabel, *TimesLabel, *NoteLabel;
    QChartView *HoursChart, *FirstResponseChart, *DurationsChart;

signals:
    void Shown(); // figures shown (tests wait for it)

protected:
    void changeEvent(QEvent *event) override;

private:
    void Show(const TFigures &figures);
    void DrawHours();
    void DrawFirstResponse();
    void DrawDurations();
    // A chart in the window's palette, so it follows a high-contrast theme.
    void Style(QChart *chart);

    TFiguresLoader m_loader;
    std::function<int()> m_target;
    TFigures m_figures;
    bool m_waiting = false;
    QWidget *m_charts = nullptr;
};

} // namespace velmora
