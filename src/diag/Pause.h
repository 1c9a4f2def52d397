#pragma once
// The fixed pauses between the messages of an exchange (20 to 500 ms). They
// block the calling (GUI) thread on purpose and run no nested event loop, so no
// other handler can run in the middle of an exchange; send workers keep
// sending meanwhile. Every such pause goes through here.
namespace velmora {

void Pause(int milliseconds);

} // namespace velmora
