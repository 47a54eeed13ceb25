#include "platform_pump.h"

namespace xpsim {

// Nothing on Linux: the modules we host hand work to the main thread through flight loops.
void pumpPlatformMessages() {}

}  // namespace xpsim
