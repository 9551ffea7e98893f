#pragma once
// Failure messages that the fault tests saw the system produce, collected in
// <build>/failure-coverage/observed.txt for tools/faults/failure_coverage.py. The
// file is started afresh by each run of the test executable.

#include <string>

namespace quorvane::testing {

void NoteObservedFailure(const std::string& message);

}  // namespace quorvane::testing
