// Symbol visibility of the capture library's classes.
//
// The library is built with hidden visibility; what hosts and tools call (the recorder, the
// flattening of blocks) is marked with VRN3_CAPTURE_API and exported under its real name.
#pragma once

#define VRN3_CAPTURE_API __attribute__((visibility("default")))
