#include "diag/Pause.h"

#include <QTimer>

namespace velmora {

void PauseThen(QObject *context, int milliseconds, std::function<void()> then)
{
    // A precise timer never fires early; a coarse one may, by up to 5%, and
    // the pause on the wire would be shorter than its name says.
    QTimer::singleShot(milliseconds > 0 ? milliseconds : 0, Qt::PreciseTimer, context, std::move(then));
}

} // namespace velmora
