#pragma once
// The fixed pauses between the messages of an exchange (20 to 500 ms). They
// stay on the wire, but nothing waits for them: the rest of the exchange is
// scheduled to run once the pause is over, and the event loop goes on
// meanwhile. Every such pause goes through here, so how we pause is decided
// in one place.
#include <functional>

class QObject;

namespace velmora {

// Runs `then` on `context`'s thread no sooner than `milliseconds` from now,
// unless `context` is destroyed first.
void PauseThen(QObject *context, int milliseconds, std::function<void()> then);

} // namespace velmora
