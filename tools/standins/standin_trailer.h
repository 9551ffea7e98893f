#pragma once
// The stand-in installer carries its instructions at the end of its own file:
// the product to install and the exit code to end with. Each variant therefore
// has its own SHA-256, like a real release.
//
//   [installer exe][product exe bytes][StandinTrailer]

#include <cstdint>

namespace quorvane::standin {

inline constexpr char kTrailerMagic[8] = {'Q', 'V', 'S', 'T', 'A', 'N', 'D', '1'};

struct StandinTrailer {
    char magic[8];
    std::uint64_t product_size;  // bytes of the product just before the trailer
    std::uint32_t exit_code;
    std::uint32_t run_milliseconds;  // how long the installation "takes"
};
static_assert(sizeof(StandinTrailer) == 24, "the trailer layout is shared with tools/standins/make_installer.py");

}  // namespace quorvane::standin
