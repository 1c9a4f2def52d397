#pragma once
// A window the operator turned to with a key of ours (Alt+number, Ctrl+Tab,
// Ctrl+Alt+N) takes the keys that follow, even where the compositor keeps the
// keyboard on the window it had: a Wayland compositor may refuse to activate
// another window (sway only marks it urgent). Until that window is really
// active, the operator clicks into the program, or turns elsewhere, key events
// that reach another window of ours are passed on to it.
class QWidget;

namespace velmora {

// Sends the following keys to `focus` (in `window`), as described above.
void RedirectKeysTo(QWidget *window, QWidget *focus);
// Whether RedirectKeysTo acts: by default on Wayland only, where activation
// can be refused; tests turn it on to check it anywhere.
void SetKeyRedirectEnabled(bool enabled);

} // namespace velmora
