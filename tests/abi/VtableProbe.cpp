// Compiled with -fdump-lang-class only: the listing of the brick classes' virtual tables that
// the slot-order test compares with vtables.expected.
#include "sound/CVrn3StreamSound.h"
