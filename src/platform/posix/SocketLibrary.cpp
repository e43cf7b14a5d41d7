#include "platform/SocketLibrary.h"

namespace norvale::platform {

bool StartSocketLibrary() { return true; }

void StopSocketLibrary() {}

}  // namespace norvale::platform
