// OwedRules: which rules a replayed brick owes beyond those every brick keeps, told by its
// configuration. A brick configured to take the VRN3 demultiplexer's records (input record code
// "Dat3") is a stream brick: it may refuse only a video fragment ("vid3") and a header ("Hdr3")
// it cannot use, and answers each reset ("rset") with one ready notification ("Rdy ") that
// echoes the reset's values, passing the reset itself on never. Any other brick's answers are
// not judged.
#pragma once

#include "../../host/CBrickMonitor.h"

class OwedRules {
public:
    static CBrickRules For(const TBrickConfig& config);
};
