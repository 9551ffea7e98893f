#include "ui/geometry.h"

namespace quorvane {
namespace {

// value * numerator / denominator, rounded half away from zero, in 64 bits.
std::int32_t ScaleRounded(std::int32_t value, std::int32_t numerator, std::int32_t denominator) {
    if (denominator <= 0) return value;
    const std::int64_t product = std::int64_t{value} * numerator;
    const std::int64_t half = denominator / 2;
    const std::int64_t rounded = product >= 0 ? (product + half) / denominator : -((-product + half) / denominator);
    return static_cast<std::int32_t>(rounded);
}

}  // namespace

bool Contains(const ClientRect& rect, ClientPoint point) {
    return rect.left <= point.x && point.x < rect.right && rect.top <= point.y && point.y < rect.bottom;
}

std::int32_t UsableDpi(std::int64_t reported) {
    return reported > 0 && reported <= INT32_MAX ? static_cast<std::int32_t>(reported) : kUnitDpi;
}

std::int32_t DpiScale::Length(std::int32_t units) const { return ScaleRounded(units, dpi, kUnitDpi); }

ClientRect DpiScale::Rect(const ClientRect& units) const {
    return {Length(units.left), Length(units.top), Length(units.right), Length(units.bottom)};
}

ClientSize DpiScale::Size(ClientSize units) const { return {Length(units.width), Length(units.height)}; }

std::int32_t DpiScale::ToUnits(std::int32_t pixels) const { return ScaleRounded(pixels, kUnitDpi, dpi); }

ClientSize DpiScale::ToUnits(ClientSize pixels) const { return {ToUnits(pixels.width), ToUnits(pixels.height)}; }

}  // namespace quorvane
