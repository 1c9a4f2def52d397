#pragma once
// The new-call alert: a small always-on-top window with a blinking panel that
// asks the operator to accept the call or put it on hold. Alerts stack when
// calls keep arriving; each new one is placed 25 pixels further in.
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

#include <functional>

class QLabel;
class QPushButton;
class QWidget;

namespace velmora {

class TNewCnctDlg : public QDialog {
    Q_OBJECT
public:
    // Panel colours in the 0x00BBGGRR layout.
    static constexpr quint32 kPanelColor = 5279480;
    static constexpr quint32 kBlinkColor = 8641760;
    static constexpr int kBlinkMs = 700;
    static constexpr int kStackOffset = 25;
    // Keys that reach a new alert in this time answer nothing: they were
    // typed for another window.
    static constexpr int kKeyGuardMs = 1000;

    TNewCnctDlg(quint16 kind, const QString &site, const QString &ip, bool acceptEnabled, QWidget *parent = nullptr,
                const QString &asking = QString());

    // Shows the alert without waiting and without taking the keyboard, placed
    // for `callDispPos`; `answered` gets true for Accept, false for On-Hold
    // (Esc, the close box, or the exit), once. The alert is modal to nothing.
    static TNewCnctDlg *Open(quint16 kind, const QString &site, const QString &ip, bool acceptEnabled,
                             int callDispPos, std::function<void(bool)> answered,
                             const QString &asking = QString());
    // Starts noting where the operator types, so that an alert a compositor
    // gives the keyboard can pass the keys on there (see keyPressEvent).
    static void WatchTyping();
    // Clicks Accept (true) or On-Hold as the operator would; false when the
    // alert is not open or Accept is disabled.
    bool Press(bool accept);
    // Brings the alert to the front with the keyboard in it, so that Enter and
    // Esc answer it (after its first second); false when it is not open.
    bool BringForward();
    // A chat window has come up where the desktop stacks windows itself, over
    // the open alerts: they are shown again, in front of it (WatchTyping
    // sees to it).
    static void ResurfaceOver(QWidget *chat);

    // Top-left corner of an alert of `size` with `alertsOpen` alerts already
    // showing: 0 upper left, 1 upper right, anything else lower right.
    static QPoint AlertPosition(int callDispPos, int alertsOpen, const QSize &size, const QRect &screen);
    // Places this alert on its screen as AlertPosition says.
    void PlaceOnScreen(int callDispPos, int alertsOpen);

    // The supporter who asks, once known after the alert opened.
    void SetAsking(const QString &name);

    static QString RequestText(quint16 kind);
    static QColor FromBgr(quint32 bgr);
    QColor PanelColor() const;

    QWidget *NewConnectPanel = nullptr;
    QLabel *Label1 = nullptr; // the request
    QLabel *Label2 = nullptr; // "User from IP = "
    QLabel *Label3 = nullptr; // "Call from = "
    QLabel *Label4 = nullptr; // "Asked by = " + the supporter, when known
    QPushButton *AcceptBtn = nullptr;
    QPushButton *OnHoldlBtn = nullptr;
    QTimer Timer1;

    void Timer1Timer();
    // The operator turned to the alert (a click in it, or Ctrl+Alt+N): from
    // then on Enter accepts and Esc puts on hold. Before, a compositor that
    // gave the alert the keyboard anyway must not let a stray key answer it.
    void TurnedTo() { m_turnedTo = true; }
    bool KeysAnswer() const;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void SetPanelColor(quint32 bgr);
    int Lines() const { return Label4 ? 4 : 3; }
    void FitSize();
    void LayoutControls();

    QString m_siteLine; // "Call from = " and the whole site, shortened in the middle to fit

    quint32 m_panelColor = kPanelColor;
    QElapsedTimer m_shown;
    bool m_turnedTo = false;
    // Where the operator was typing when the alert came: keys a compositor
    // hands the alert before the operator turned to it go on there.
    QPointer<QWidget> m_typingIn;
    // Opening order while unanswered; 0 once answered.
    quint64 m_opened = 0;

public:
    // The unanswered alerts on screen, oldest first.
    static QList<TNewCnctDlg *> Showing();
};

} // namespace velmora
