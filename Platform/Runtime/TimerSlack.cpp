#include <sys/prctl.h>

#include "Platform/Runtime/Runtime.h"

namespace tesvano::platform {

void reduceTimerSlack() {
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

}  // namespace tesvano::platform
