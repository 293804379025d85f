// Runs the calling thread's default sd-event loop for host tests.
#pragma once

#include <chrono>
#include <functional>

namespace vexa::test {

// Dispatches events of the thread's default sd-event loop until `done`
// returns true or `timeout` has passed. Returns `done()`.
bool runDefaultEventLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

}  // namespace vexa::test
