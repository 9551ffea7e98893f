#pragma once
// Timing marks for bench/bench.sh: start-up to the first paint and its steps,
// and how often the window repaints while records arrive. Only the benchmark build
// (QV_BENCH_MARKS, bench/) gives them a body; in the product they are
// empty inline functions and leave no trace in the executable.

namespace quorvane {

#ifdef QV_BENCH_MARKS
// After a complete paint has been copied to the window, with the percent shown.
void MarkPaint(int percent);
// When the window has taken a progress record from its queue.
void MarkProgressRecord();
// When a step of start-up has ended; step names it in a word.
void MarkStartupStep(const char* step);
#else
inline void MarkPaint(int) {}
inline void MarkProgressRecord() {}
inline void MarkStartupStep(const char*) {}
#endif

}  // namespace quorvane
