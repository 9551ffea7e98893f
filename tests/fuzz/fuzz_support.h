#pragma once
// Shared by the fuzz targets: a failed property aborts, which libFuzzer
// reports as a crash and keeps the input.

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

namespace quorvane::fuzz {

inline void Require(bool holds, const char* property) {
    if (holds) return;
    std::fprintf(stderr, "property broken: %s\n", property);
    std::abort();
}

// Runs operation and tells whether it succeeded. The manifest readers may fail
// only with std::runtime_error or with std::out_of_range("stoull") for a number
// beyond 64 bits; any other exception escapes and counts as a crash.
template <typename Operation>
bool SucceedsOrFailsAsDocumented(Operation operation) {
    try {
        operation();
        return true;
    } catch (const std::out_of_range& failure) {
        Require(std::string_view(failure.what()) == "stoull", "an out_of_range failure says stoull");
    } catch (const std::runtime_error&) {
    }
    return false;
}

}  // namespace quorvane::fuzz
