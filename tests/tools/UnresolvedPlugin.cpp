// A plug-in whose factory calls a function that no library defines: a host must refuse it when it
// loads it, before any of its code runs, rather than stop in the middle of a run at the first call.
// Linked for lazy binding, so that only the loader's own binding of every symbol finds the gap.
#include "../../blocks/CBrick.h"

extern "C" CBrick* vrn3_test_defined_nowhere(const TBrickConfig& config);

extern "C" __attribute__((visibility("default"))) CBrick* CreateBrick(const TBrickConfig& config)
{
    return vrn3_test_defined_nowhere(config);
}
