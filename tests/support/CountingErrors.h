#pragma once

#include "link/LinkInterfaces.h"

namespace vardel::test {

// The link's error windows as counts, for tests that look at how often each
// would have been shown.
struct CountingErrors : ErrorWindows {
    int transmit = 0;
    int receive = 0;
    void showTransmitError() override { ++transmit; }
    void showReceiveError() override { ++receive; }
};

} // namespace vardel::test
