#pragma once
// Stands in for the installer window: a message-only window that becomes the
// process's main window and collects every record the worker posts to it.

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "report/progress.h"

namespace quorvane::testing {

struct CollectedMessage {
    bool close = false;  // WM_INSTALL_CLOSE rather than a progress record
    ProgressRecord record;
    bool busy_when_posted = false;  // read as the record was posted, not when it arrived
    bool answering_when_posted = false;  // the collector was taking messages when the record was posted
};

class RecordCollector {
public:
    RecordCollector();
    ~RecordCollector();
    RecordCollector(const RecordCollector&) = delete;
    RecordCollector& operator=(const RecordCollector&) = delete;

    // Takes every message already posted.
    std::vector<CollectedMessage> Drain();
    // Waits until a record that is not Running arrives (and a close message
    // right after it, if any), or the timeout passes; returns all collected.
    // Each message is shown to on_message as it arrives (a test can cancel
    // at a chosen point).
    using Observer = std::function<void(const CollectedMessage&)>;
    std::vector<CollectedMessage> WaitForLastRecord(std::chrono::milliseconds timeout = std::chrono::seconds(30),
                                                    const Observer& on_message = nullptr);

private:
    bool TakeOne(std::vector<CollectedMessage>& into);
    HWND window_ = nullptr;
};

std::vector<int> Percents(const std::vector<CollectedMessage>& messages);
std::string Describe(const std::vector<CollectedMessage>& messages);

}  // namespace quorvane::testing
