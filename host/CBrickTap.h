// CBrickTap: what a host tells an observer of one brick at its delivery points.
//
// A tap sees, in order, the brick's configuration, every block delivered to the brick's
// handlers and every block the brick sends, each at the moment it crosses the brick's
// boundary. A tap only reads: it must not keep a block beyond its call in a way that changes the
// block's sharing as the brick sees it, nor write to it. An exception a tap throws reaches the
// brick as one from the host's SendData would (the capture recorder throws none). The stand-in host calls a
// tap from the thread that delivers the brick's blocks; a tap of a host that delivers from
// several threads guards itself. The host does not own the tap; it outlives the brick's use.
#pragma once

#include "../blocks/HostApi.h"
#include "../blocks/TBrickConfig.h"

class cMemBlock;

class VRN3_HOST_API CBrickTap {
public:
    virtual ~CBrickTap();

    // The brick's configuration, as handed to its Create.
    virtual void Configured(const TBrickConfig& config) = 0;
    // `block` is about to reach a handler: onCtrl when `control`, else onNotify (type "ntfy")
    // or onData.
    virtual void Delivered(const cMemBlock& block, bool control) = 0;
    // The brick sends `block`: upstream with SendCmd when `command`, else downstream with SendData.
    virtual void Sent(const cMemBlock& block, bool command) = 0;
};
