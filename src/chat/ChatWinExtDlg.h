#pragma once
// The small tool window docked at a chat window's right edge: send an image,
// push a URL, insert a canned answer, start a transfer. It slides open and
// shut, and only its chat window may move it. Where the desktop places
// windows itself (Wayland), it cannot be kept beside the chat: there it is a
// panel over the right edge of the chat's conversation instead.
#include <QPoint>
#include <QWidget>

class QPushButton;

namespace velmora {

class TOneChatWindow;

class TChatWinExtDlg : public QWidget {
    Q_OBJECT
public:
    static constexpr int kFullWidth = 125;
    static constexpr int kHeight = 115;

    // Created hidden, at 20% of its full width; as a panel, hidden at its full
    // size, for the chat window to place.
    explicit TChatWinExtDlg(TOneChatWindow &owner, bool panel = false);
    bool IsPanel() const { return m_panel; }

    // Moves the window's top-left corner to `topLeft` (the only way it moves).
    void PlaceAt(const QPoint &topLeft);
    int FullWidth() const { return m_fullWidth; }
    // Width for a share (20, 30, 100) of the full width, rounded.
    int WidthFor(int percent) const;

    // Handlers, public so the tools can be driven without a screen.
    void SendImgBtnClick();
    void PushUrlBtnClick();
    void CannedBtnClick();
    void TransferBtnClick();
    void FormShow();
    // Opened from the keyboard: the tools take it, on their first button.
    void TakeKeyboard();
    void FormActivate();
    void FormHide();

    QPushButton *SendImgBtn = nullptr;
    QPushButton *PushUrlBtn = nullptr;
    QPushButton *CannedBtn = nullptr;
    QPushButton *TransferBtn = nullptr;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void SetWidth(int width);
    // After the slide: full width and the chat window's place, whatever the
    // window manager made of the steps.
    void SettleOpen();
    void NarrowStep(quint32 slide);
    // Closes the tools through the chat window, unless the chat has ended.
    void Done();

    TOneChatWindow &m_owner;
    const bool m_panel;
    int m_fullWidth = kFullWidth;
    bool m_positioning = false;
    QPoint m_placed;
    bool m_placedOnce = false;
    quint32 m_hideSlide = 0;
    bool m_hasKeyboard = false;
};

} // namespace velmora
