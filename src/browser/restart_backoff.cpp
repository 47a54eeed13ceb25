#include "browser/restart_backoff.h"

#include <algorithm>

RestartBackoff::Attempt RestartBackoff::failed(bool atLongestDelay) {
    if (atLongestDelay) nextDelay_ = longestDelay;
    const Attempt attempt{++attempts_, nextDelay_};
    nextDelay_ = std::min(nextDelay_ * 2, std::chrono::seconds(longestDelay));
    return attempt;
}

void RestartBackoff::served(Time now) {
    if (!firstServed_) firstServed_ = now;
    if (now - *firstServed_ < healthyAfter) return;
    // A browser that has worked this long says nothing about the faults before it.
    attempts_ = 0;
    nextDelay_ = firstDelay;
}
