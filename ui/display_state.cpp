#include "ui/display_state.h"

namespace quorvane {

DisplayState display_state;
std::uintptr_t gdiplus_token = 0;

}  // namespace quorvane
