#pragma once
// Wayland compositors bring a window forward only for an xdg-activation
// token, handed to us by whoever the operator acted in (a later start of the
// program, a notification's action). The toolkit's Wayland plug-in takes the
// token from XDG_ACTIVATION_TOKEN on the next activation.
#include <QByteArray>
#include <QString>

namespace velmora {

// Tokens are opaque, but ours to put into the environment: printable ASCII
// without blanks, at most 256 bytes.
bool ValidActivationToken(const QByteArray &token);
// Whether bringing a window forward takes effect on `platform`: Wayland
// honours it only with a token; other platforms always.
bool RaiseTakesEffect(const QString &platform, const QByteArray &token);
// Keeps a valid `token` for the next activation, on Wayland only; returns
// RaiseTakesEffect for this platform.
bool UseActivationToken(const QByteArray &token);

} // namespace velmora
