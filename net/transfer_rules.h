#pragma once
// The arithmetic of the transfers: the memory cap and the download percent.
// No Windows header here.

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace quorvane {

// A manifest body is never allowed to grow beyond 1 MiB; exactly 1 MiB is fine.
inline constexpr std::size_t kMemoryBodyCap = 0x100000;
// The one read buffer of a file download.
inline constexpr std::uint32_t kDownloadBufferSize = 0x40000;
// Without a known length a download climbs one point per 512 KiB.
inline constexpr std::uint64_t kBytesPerPointWithoutLength = 524288;

// Whether ready more bytes may join a body of body_size bytes. body_size never
// exceeds the cap, so the sum cannot wrap.
constexpr bool FitsMemoryCap(std::size_t body_size, std::uint32_t ready) { return body_size + ready <= kMemoryBodyCap; }

// The percent to show after received bytes of a download ranging from start to
// end (start <= end). With a known total it is start + span * received / total,
// truncated, and reaches end exactly when the total has arrived; with total 0
// (unknown) it climbs one point per 512 KiB but stays below end. Never outside
// start to end, also when more arrives than was announced.
constexpr int DownloadPercent(int start, int end, std::uint64_t received, std::uint64_t total) {
    const std::uint64_t span = static_cast<std::uint64_t>(end - start);
    const std::uint64_t advance = total != 0
                                      ? std::min(span * received / total, span)
                                      : std::min(received / kBytesPerPointWithoutLength, span == 0 ? 0 : span - 1);
    return start + static_cast<int>(advance);
}

}  // namespace quorvane
