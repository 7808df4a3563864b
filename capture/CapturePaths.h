// CapturePaths: which path of the capture header (ECapturePath) a block crossing the brick's
// boundary is filed under, decided once for the recorder and the replay, and the paths' names as
// reports show them. Inline functions over type codes; nothing here holds a block.
#pragma once

#include "CCaptureRecorder.h"

#include "../records/HostRecords.h"

#include <cstdint>

// The path of a block of `type` delivered to the brick or sent by it: `control` for a delivery
// on the control path or a SendCmd; otherwise notifications apart from the data.
inline ECapturePath CapturePathOf(uint32_t type, bool control)
{
    if (control)
        return kPathControl;
    return type == kCodeNtfy ? kPathNotify : kPathData;
}

// The name of a path as reports show it; "unknown" for a value no capture header holds.
inline const char* CapturePathName(uint8_t path)
{
    static const char* const kNames[] = {"data", "control", "notification", "configuration"};
    return path <= kPathConfig ? kNames[path] : "unknown";
}
