// CBrickMonitor: watches one brick keep the framework's rules while a host runs it, and lists
// every rule the brick breaks.
//
// A host makes the monitor for a brick after the brick's Create and before its first delivery,
// tells it the index of each block it feeds (Feeding), destroys the brick, then calls BrickGone.
// While the monitor lives, the stand-in host reports every handler call of the brick, every
// block it sends and every lock made or destroyed to it (CBrickMonitorPrivate.h says what each
// check looks at); it reads blocks through the host's own pointers and changes none. One monitor
// at a time in a process: a second one throws std::logic_error. Its calls come from the thread
// that owns it; the reports it is given may come from any thread (it guards itself).
//
// The lock order and a handle's use after its node's release are seen in the lock calls, which
// cost nothing extra in an ordinary run: a program that wants them watched defines
// CCriticalSection::Lock and Unlock itself (the host library lets a program interpose on exactly
// these two, as the benchmark does to count them) and forwards each to CBrickMonitor::Lock and
// Unlock, which take and give back the lock and tell the living monitor, if any. vrn3-replay does.
//
// A handler exception that is not std::bad_alloc is a violation: the monitor keeps it and the
// block counts as delivered, so the run goes on. std::bad_alloc passes on as without a monitor.
#pragma once

#include "../blocks/CBrick.h"
#include "../blocks/CCriticalSection.h"
#include "../blocks/HostApi.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct CBrickMonitorPrivate;

// What a brick owes beyond the rules every brick keeps; the host that knows the brick's kind
// fills it in (vrn3-replay: from the brick's configuration).
struct CBrickRules {
    // Whether a handler's answer is judged: then it may be false only for a block of one of the
    // `mayRefuse` types: (path, type) with path 0 data (onData), 1 control (onCtrl), 2
    // notification (onNotify, type "ntfy").
    bool judgeAnswers = false;
    std::vector<std::pair<uint8_t, uint32_t>> mayRefuse;
    // A notification whose code (its first word) is `resetCode` is answered, within its call, by
    // exactly one notification of code `answerCode` for which `answers(reset, answer)` (the two
    // records) holds, and is not passed on. resetCode 0: no such rule.
    uint32_t resetCode = 0;
    uint32_t answerCode = 0;
    bool (*answers)(const void* reset, const void* answer) = nullptr;
};

// One broken rule: its short name, the index the host gave the block it concerns (0 when none),
// the block's type and what was seen.
struct CBrickViolation {
    std::string rule;
    std::string title; // the rule in words: "received block modified in place"
    uint64_t block = 0;
    uint32_t type = 0;
    std::string seen;
};

class VRN3_HOST_API CBrickMonitor {
public:
    CBrickMonitor(CBrick* brick, const CBrickRules& rules);
    ~CBrickMonitor();

    CBrickMonitor(const CBrickMonitor&) = delete;
    CBrickMonitor& operator=(const CBrickMonitor&) = delete;

    // The index (a capture's packet number, say) of the block the host feeds next: the blocks
    // the brick receives and makes from now on are named by it.
    void Feeding(uint64_t index);
    // The brick is destroyed: every block it received or sent must have been given back.
    void BrickGone();
    // The violations so far, in the order they were seen.
    std::vector<CBrickViolation> Violations() const;

    // The host's lock calls, told to the living monitor: for a program's own definitions of
    // CCriticalSection::Lock and Unlock to forward to. Same results as those calls.
    static bool Lock(CCriticalSection* lock, unsigned long timeout);
    static bool Unlock(CCriticalSection* lock);

private:
    CBrickMonitorPrivate* d;
};
