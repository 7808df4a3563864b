// The rules' names and words.
#include "MonitorRules.h"

namespace {

struct Rule {
    const char* name;
    const char* title;
};

// In the order of EMonitorRule.
const Rule kRules[] = {
    {"received-modified", "received block modified in place"},
    {"sent-modified", "sent block modified after the send"},
    {"block-leaked", "block not given back by the brick's destruction"},
    {"used-after-release", "handle used after its node was released"},
    {"handler-refused", "handler refused a block it must take"},
    {"handler-threw", "handler threw an exception other than running out of memory"},
    {"foreign-thread", "host called from a thread not running the brick's handler"},
    {"reentered", "handler of the brick re-entered"},
    {"visited-list", "command's visited list broken"},
    {"passed-twice", "command block passed on twice"},
    {"node-lock-order", "node lock taken after another lock"},
    {"lock-inversion", "locks taken in both orders"},
    {"reset-answer", "reset not answered as a stream brick must"},
};

} // namespace

const char* MonitorRules::Name(EMonitorRule rule)
{
    return kRules[static_cast<int>(rule)].name;
}

const char* MonitorRules::Title(EMonitorRule rule)
{
    return kRules[static_cast<int>(rule)].title;
}
