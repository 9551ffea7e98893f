#include "tests/support/record_collector.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include "files/text.h"
#include "report/progress_post.h"

namespace quorvane::testing {
namespace {

struct WhenPosted {
    bool busy = false;
    bool answering = false;
};

// Whether the collector takes messages yet, as a window does once its message
// loop runs.
std::atomic<bool> answering{false};
// What held at the moment each record still on its way was posted, by record.
std::mutex posted_lock;
std::map<const ProgressRecord*, WhenPosted> when_posted;

void NoteWhenPosted(const ProgressRecord& record) {
    const std::lock_guard<std::mutex> hold(posted_lock);
    when_posted[&record] = WhenPosted{run_flags.busy.Load(), answering.load()};
}

WhenPosted TakeWhenPosted(const ProgressRecord* record) {
    const std::lock_guard<std::mutex> hold(posted_lock);
    const auto found = when_posted.find(record);
    if (found == when_posted.end()) return {};
    const WhenPosted noted = found->second;
    when_posted.erase(found);
    return noted;
}

}  // namespace

RecordCollector::RecordCollector() {
    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = DefWindowProcW;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"QuorvaneTestRecordCollector";
    RegisterClassW(&window_class);  // fails harmlessly when already registered
    window_ = CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              window_class.hInstance, nullptr);
    if (window_ == nullptr) throw std::runtime_error("cannot create the message-only test window");
    main_window = window_;
    answering = false;
    progress_posting = NoteWhenPosted;
}

RecordCollector::~RecordCollector() {
    Drain();
    progress_posting = nullptr;
    main_window = nullptr;
    DestroyWindow(window_);
}

bool RecordCollector::TakeOne(std::vector<CollectedMessage>& into) {
    answering = true;
    MSG message;
    if (!PeekMessageW(&message, window_, WM_INSTALL_PROGRESS, WM_INSTALL_CLOSE, PM_REMOVE)) return false;
    CollectedMessage collected;
    if (message.message == WM_INSTALL_CLOSE) {
        collected.close = true;
    } else {
        const std::unique_ptr<ProgressRecord> record(reinterpret_cast<ProgressRecord*>(message.lParam));
        collected.record = *record;
        const WhenPosted noted = TakeWhenPosted(record.get());
        collected.busy_when_posted = noted.busy;
        collected.answering_when_posted = noted.answering;
    }
    into.push_back(std::move(collected));
    return true;
}

std::vector<CollectedMessage> RecordCollector::Drain() {
    std::vector<CollectedMessage> messages;
    while (TakeOne(messages)) {
    }
    return messages;
}

std::vector<CollectedMessage> RecordCollector::WaitForLastRecord(std::chrono::milliseconds timeout,
                                                                 const Observer& on_message) {
    std::vector<CollectedMessage> messages;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool finished = false;
    while (std::chrono::steady_clock::now() < deadline) {
        while (TakeOne(messages)) {
            const CollectedMessage& last = messages.back();
            if (on_message) on_message(last);
            if (!last.close && last.record.state != RunState::Running) finished = true;
        }
        if (finished) {
            // A successful run's close request follows its last record.
            Sleep(50);
            while (TakeOne(messages)) {
            }
            return messages;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_POSTMESSAGE | QS_SENDMESSAGE);
    }
    return messages;
}

std::vector<int> Percents(const std::vector<CollectedMessage>& messages) {
    std::vector<int> percents;
    for (const CollectedMessage& message : messages) {
        if (!message.close) percents.push_back(message.record.percent);
    }
    return percents;
}

std::string Describe(const std::vector<CollectedMessage>& messages) {
    std::ostringstream text;
    for (const CollectedMessage& message : messages) {
        if (message.close) {
            text << "  [close]\n";
            continue;
        }
        text << "  " << message.record.percent << " state=" << static_cast<int>(message.record.state) << " "
             << WideToUtf8(message.record.text) << "\n";
    }
    return text.str();
}

}  // namespace quorvane::testing
