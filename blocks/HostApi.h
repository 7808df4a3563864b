// Symbol visibility of the host framework's classes.
//
// The plug-in is built with hidden visibility, so that nothing of its own leaks into the host's
// symbol space. Classes that belong to the host (the brick, the locks, the out-of-line parts of
// cMemBlock) must still be referenced by their real, default-visibility names, or the plug-in
// would bind them locally and never meet the host's definitions.
#pragma once

#define VRN3_HOST_API __attribute__((visibility("default")))
