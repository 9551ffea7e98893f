#pragma once
// What the run reports to the window, and the flags the two threads share.
// The transfers, the pipeline and the window all use it, so it sits below
// them all. No Windows header here: the window's state model and its tests
// use it too.

#include <atomic>
#include <cstdint>
#include <string>

namespace quorvane {

enum class RunState : std::int32_t {
    Running = 0,
    Finished = 1,
    Cancelled = 2,
    Failed = 3,
    Unsupported = 4,
};

// One report from the worker; the window owns it once it is posted.
struct ProgressRecord {
    std::int32_t percent = 0;  // -1: the window keeps the percent it shows
    RunState state = RunState::Running;
    std::wstring text;
};

// A one-byte flag that is only ever written by atomic exchange and read by
// atomic load; no lock exists anywhere in the system.
class RunFlag {
public:
    explicit constexpr RunFlag(bool initial) noexcept : value_(initial) {}
    RunFlag(const RunFlag&) = delete;
    RunFlag& operator=(const RunFlag&) = delete;

    bool Exchange(bool value) noexcept { return value_.exchange(value); }
    bool Load() const noexcept { return value_.load(); }

private:
    std::atomic<bool> value_;
};

struct RunFlags {
    RunFlag busy{false};
    RunFlag cancel_requested{false};
    RunFlag installer_running{false};
    RunFlag launch_after_install{true};
};

// The process-wide flags shared by the window and the worker.
extern RunFlags run_flags;

}  // namespace quorvane
