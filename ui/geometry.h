#pragma once
// Client-area geometry and the display scale. No Windows header here.
//
// The window is laid out in units of 96 DPI, a pixel at 100 % display scale;
// DpiScale turns a unit length into the pixels of the window's DPI. Every
// edge is scaled on its own, so edges that touch in units still touch in
// pixels, and at 96 DPI every length stays what it is.

#include <cstdint>

namespace quorvane {

struct ClientPoint {
    std::int32_t x = 0;
    std::int32_t y = 0;

    friend bool operator==(const ClientPoint&, const ClientPoint&) = default;
};

// Right and bottom are exclusive.
struct ClientRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;

    friend bool operator==(const ClientRect&, const ClientRect&) = default;
};

struct ClientSize {
    std::int32_t width = 0;
    std::int32_t height = 0;

    friend bool operator==(const ClientSize&, const ClientSize&) = default;
};

bool Contains(const ClientRect& rect, ClientPoint point);

inline constexpr std::int32_t kUnitDpi = 96;

// The DPI a system call reported, or the unit DPI when it reported none
// (0, or a failure's negative value).
std::int32_t UsableDpi(std::int64_t reported);

struct DpiScale {
    std::int32_t dpi = kUnitDpi;

    // Units to pixels, rounded to the nearest pixel, halves away from zero.
    std::int32_t Length(std::int32_t units) const;
    ClientRect Rect(const ClientRect& units) const;
    ClientSize Size(ClientSize units) const;
    // Pixels to units, rounded the same way: the inverse of Length for every
    // length that Length gives.
    std::int32_t ToUnits(std::int32_t pixels) const;
    ClientSize ToUnits(ClientSize pixels) const;
};

}  // namespace quorvane
