// ReadStringField and ReadUnsignedField with any text, any key and any start,
// also beyond the end of the text. The first byte picks the key, the second the
// start; the rest is the text.

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>

#include "files/manifest.h"
#include "tests/fuzz/fuzz_support.h"

using quorvane::fuzz::Require;

namespace {

const char* const kKeys[] = {"version", "url", "sha256", "size", "rows", "schema_version", "format", "full_installer",
                             "", "\"", "\\", ":"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::string key = kKeys[data[0] % std::size(kKeys)];
    const std::size_t start = data[1];
    const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);

    const std::string untouched = "\x01untouched";
    std::string value = untouched;
    const bool found_text = quorvane::ReadStringField(text, start, key, value);
    if (!found_text) Require(value == untouched, "a text not found leaves the output alone");
    if (found_text) Require(value.size() < text.size(), "a text value is shorter than the document");

    constexpr std::uint64_t kUntouchedNumber = 0xDEADBEEF;
    std::uint64_t number = kUntouchedNumber;
    bool found_number = false;
    const bool documented =
        quorvane::fuzz::SucceedsOrFailsAsDocumented([&] { found_number = quorvane::ReadUnsignedField(text, start, key, number); });
    if (!documented || !found_number) Require(number == kUntouchedNumber, "a number not read leaves the output alone");
    return 0;
}
