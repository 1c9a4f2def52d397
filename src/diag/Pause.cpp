#include "diag/Pause.h"

#include <chrono>
#include <thread>

namespace velmora {

void Pause(int milliseconds)
{
    if (milliseconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

} // namespace velmora
