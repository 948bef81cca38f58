#pragma once
#include <functional>

// Runs the main thread's event loop until `condition` holds or `timeoutMs` passed; returns the condition.
// Sleeps in the event loop between checks (woken by events and a short timer), so it does not spin.
bool runEventsUntil(const std::function<bool()>& condition, int timeoutMs = 5000);
// Runs the event loop for the given time.
void runEventsFor(int ms);
