#include "report/progress.h"

namespace quorvane {

RunFlags run_flags;

}  // namespace quorvane
