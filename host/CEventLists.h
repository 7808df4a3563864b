// CEventLists: the host's side of event list notifications ("Evt "): it makes the lists its
// sources report events with, and reads the lists that bricks send back.
//
// The list inside a notification is a QList made and read by the host's own Qt code; a brick
// built on another Qt would misread it, which is why a plug-in must be built on the Qt its
// host runs. Nothing here keeps state: every call works on the block it is given.
#pragma once

#include "../blocks/HostApi.h"
#include "../blocks/cMemBlock.h"
#include "../records/HostRecords.h"

#include <vector>

class VRN3_HOST_API CEventLists {
public:
    // A new "Evt " notification whose list holds copies of `entries`, in order. The caller
    // holds the only reference to the block.
    static cMemBlock Make(const std::vector<TEventListEntry>& entries);

    // Copies of the entries of the "Evt " notification `block`, in order; the block is only
    // read. `block` must hold an event list (its type "ntfy", its code "Evt ").
    static std::vector<TEventListEntry> Read(const cMemBlock& block);
};
