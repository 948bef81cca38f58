#pragma once
#include <functional>

// Sounds a tone of the given frequency and duration: the console speaker when the process may drive it,
// otherwise the windowing system's bell. Returns at once; the tone ends by itself.
void Beep(int frequencyHz, int durationMs);

// Replaces the sound (tests record the calls); an empty function restores the real one.
using BeepFn = std::function<void(int frequencyHz, int durationMs)>;
void SetBeepFunction(BeepFn beep);
