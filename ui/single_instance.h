#pragma once
// One installation run per user session. Every path of a run (the work folder,
// the downloaded installer, the database and its record) is the same for every
// copy that one user starts, so a second copy starts no run of its own: it
// brings the first copy's window forward and ends.

#include <windows.h>

#include <optional>

#include "files/held_file.h"
#include "files/product_constants.h"

namespace quorvane {

using MutexHandle = UniqueHandle<HANDLE, file_release::Close>;

// Takes ownership of the named mutex for the calling thread, which must live
// until the process ends; the system then releases it, also after a crash.
// A mutex abandoned by a copy that died counts as free. nullopt when another
// copy owns it, or holds it with rights this process lacks. When the mutex
// cannot be created at all (a name taken by an object of another kind, no
// memory) the claim is empty and the run goes ahead unguarded: a blocked name
// must not keep the product from being installed.
std::optional<MutexHandle> ClaimSessionRun(const wchar_t* mutex_name = kSessionRunMutexName);

// For the second copy: waits up to about 2 s for the first copy's window to be
// shown (it may still be starting), restores it if it is minimised and brings
// it to the foreground. Creates no window and touches no file. Returns the
// second copy's exit code: 0 after the hand-over; 1 when no window showed,
// after the user has closed a message that an installation is under way.
int ShowRunningCopy();

}  // namespace quorvane
