// MonitorRules: the rules CBrickMonitor checks, each with its short name and its words; the one
// table the monitor's reports and the brick author's guide (docs/check-your-brick.md) follow.
#pragma once

enum class EMonitorRule {
    kReceivedModified, // a block handed to a handler is changed, in the call or while held
    kSentModified,     // a block the brick sent is changed afterwards
    kBlockLeaked,      // a block the brick received or sent is still held once it is destroyed
    kUsedAfterRelease, // a node's lock is taken after the node was released
    kHandlerRefused,   // a handler answers false where the brick may not refuse
    kHandlerThrew,     // a handler throws something other than std::bad_alloc
    kForeignThread,    // a host call from a thread not running the brick's handler, or outside one
    kReentered,        // a handler of the brick runs while another of its handlers runs
    kVisitedList,      // a command's visited list loses or changes entries, or lists a brick twice
    kPassedTwice,      // the brick passes one command block on twice
    kNodeLockOrder,    // a node's lock taken while the thread holds another lock
    kLockInversion,    // two locks taken in both orders
    kResetAnswer,      // a reset not answered by exactly one echoing ready notification
};

class MonitorRules {
public:
    static const char* Name(EMonitorRule rule);
    static const char* Title(EMonitorRule rule);
};
