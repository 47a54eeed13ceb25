#include "browser/restart_backoff.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace {

using std::chrono::minutes;
using std::chrono::seconds;

TEST(RestartBackoff, DoublesToAMinuteAndStartsOverOnlyAfterABrowserServedForFiveMinutes) {
    RestartBackoff backoff;
    std::vector<long> delays;
    for (int n = 1; n <= 9; ++n) {
        const auto attempt = backoff.failed();
        EXPECT_EQ(attempt.number, n);
        delays.push_back(static_cast<long>(attempt.delay.count()));
    }
    EXPECT_EQ(delays, (std::vector<long>{1, 2, 4, 8, 16, 32, 60, 60, 60}));

    // Snapshots served for a moment short of five minutes change nothing. Any clock will do,
    // the simulator's elapsed time as well as a steady clock's reading.
    const RestartBackoff::Time t0{1234.5};
    backoff.started();
    backoff.served(t0);
    backoff.served(t0 + minutes(5) - seconds(1));
    EXPECT_EQ(backoff.failed().delay, seconds(60));
    // The next browser's time counts from its own first snapshot, not the last one's.
    backoff.started();
    backoff.served(t0 + minutes(6));
    backoff.served(t0 + minutes(10));
    EXPECT_EQ(backoff.failed().number, 11);
    backoff.started();
    backoff.served(t0 + minutes(20));
    backoff.served(t0 + minutes(25));
    const auto afresh = backoff.failed();
    EXPECT_EQ(afresh.number, 1);
    EXPECT_EQ(afresh.delay, seconds(1));
    EXPECT_EQ(backoff.failed().delay, seconds(2));

    // No browser program at all: the longest pause at once, and it stays there.
    RestartBackoff missing;
    EXPECT_EQ(missing.failed(true).delay, seconds(60));
    EXPECT_EQ(missing.failed().delay, seconds(60));
}

}  // namespace
