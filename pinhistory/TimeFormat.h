// Times of the timeline as people read them: axis steps of 1, 2 and 5 in
// sensible units, and durations.
#pragma once

#include <string>

// The smallest step of 1, 2 or 5 times a power of ten microseconds (or 1,
// 2, 5, 10, 15, 30 minutes and 1, 2, 6, 12 hours) that is at least `minUs`.
double AxisStepUs(double minUs);

// The label of an axis tick at `us` (from the history's start) for ticks
// `stepUs` apart: "250 µs", "12.55 s", "1:30", "1:02:00".
std::string AxisLabel(double us, double stepUs);

// A time or duration: "830 µs", "12.5 ms", "3.250 s", "2:05.3".
std::string FormatDuration(double us);
