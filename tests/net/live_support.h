#pragma once
// Shared by the transport tests that talk to the local HTTPS test server.

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "report/progress.h"
#include "tests/support/test_server.h"

namespace quorvane::testing {

// The maker's file host as the tests address it; its fallbacks follow from the
// trusted domains.
inline constexpr const wchar_t* kFilesHost = L"files.quorvane.com";

// The failure text that the call raises, or "(no failure)".
inline std::string FailureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::exception& failure) {
        return failure.what();
    }
    return "(no failure)";
}

inline bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

class LiveServerTest : public ::testing::Test {
protected:
    void SetUp() override { run_flags.cancel_requested.Exchange(false); }
    void TearDown() override { run_flags.cancel_requested.Exchange(false); }

    TestServer& server = TestServer::Get();
    const std::string tag = server.NewTag();
};

}  // namespace quorvane::testing
