// The monitor's checks of handler calls and sends, and its ears on every lock.
#include "CBrickMonitorPrivate.h"

#include "../records/HostRecords.h"

#include <new>
#include <stdexcept>

std::atomic<CBrickMonitorPrivate*> gBrickMonitor{nullptr};

namespace {

constexpr uint8_t kPathData = 0, kPathControl = 1, kPathNotification = 2; // as CBrickRules numbers them

bool IsCommand(const cMemBlock& block, bool control)
{
    return control || block.GetType() == kCodeNtfy;
}

} // namespace

CBrickMonitorPrivate::CBrickMonitorPrivate(CBrick* watched, const CBrickRules& owed)
    : brick(watched), rules(owed), blocks([this](EMonitorRule rule, uint64_t block, uint32_t type,
                                                 const std::string& seen) { Report(rule, block, type, seen); })
{
}

// A violation seen again at once (the same lock order broken by a handle's copy and by its
// release, say) is told once.
void CBrickMonitorPrivate::Report(EMonitorRule rule, uint64_t block, uint32_t type, const std::string& seen)
{
    const CBrickViolation violation{MonitorRules::Name(rule), MonitorRules::Title(rule), block, type, seen};
    if (!violations.empty() && violations.back().rule == violation.rule && violations.back().block == block &&
        violations.back().seen == seen)
        return;
    violations.push_back(violation);
}

bool CBrickMonitorPrivate::Deliver(CBrick* target, cMemBlock& block, bool control, Handler handle)
{
    if (target != brick)
        return handle(target, block, control);
    const char* name = Begin(block, control);
    bool answer = true;
    try {
        answer = handle(target, block, control);
    } catch (const std::bad_alloc&) {
        End(block, control, name, true);
        throw;
    } catch (const std::exception& e) {
        const std::lock_guard<std::mutex> lock(mutex);
        Report(EMonitorRule::kHandlerThrew, feeding, block.GetType(), std::string(name) + " threw: " + e.what());
    } catch (...) {
        const std::lock_guard<std::mutex> lock(mutex);
        Report(EMonitorRule::kHandlerThrew, feeding, block.GetType(),
               std::string(name) + " threw a non-standard exception");
    }
    End(block, control, name, answer);
    return answer;
}

// Before the handler: the block is copied, a reset noted. Returns the handler's name.
const char* CBrickMonitorPrivate::Begin(const cMemBlock& block, bool control)
{
    const std::lock_guard<std::mutex> lock(mutex);
    const char* name = control ? "onCtrl" : block.GetType() == kCodeNtfy ? "onNotify" : "onData";
    if (depth > 0)
        Report(EMonitorRule::kReentered, feeding, handlerType, std::string(name) + " began while " + handler + " runs");
    ++depth;
    handlerThread = std::this_thread::get_id();
    handler = name;
    handlerType = block.GetType();
    blocks.HandedOver(block, IsCommand(block, control), feeding);
    if (rules.resetCode != 0 && !control && block.GetType() == kCodeNtfy && block.GetSize() >= sizeof(uint32_t) &&
        *static_cast<const uint32_t*>(blocks.CommandRecord(block)) == rules.resetCode) {
        reset = blocks.CommandRecord(block);
        answers = echoes = 0;
        resetPassed = false;
    }
    return name;
}

// After the handler: the blocks checked, the answer and a reset's handling judged.
void CBrickMonitorPrivate::End(const cMemBlock& block, bool control, const char* name, bool answer)
{
    const std::lock_guard<std::mutex> lock(mutex);
    blocks.CallEnded(block, name);
    if (!answer && rules.judgeAnswers && !MayRefuse(block, control))
        Report(EMonitorRule::kHandlerRefused, feeding, block.GetType(), std::string(name) + " answered false");
    if (reset != nullptr)
        CheckReset();
    --depth;
    handler = depth > 0 ? handler : nullptr;
}

bool CBrickMonitorPrivate::MayRefuse(const cMemBlock& block, bool control) const
{
    const uint8_t path = control ? kPathControl : block.GetType() == kCodeNtfy ? kPathNotification : kPathData;
    for (const auto& allowed : rules.mayRefuse)
        if (allowed.first == path && allowed.second == block.GetType())
            return true;
    return false;
}

void CBrickMonitorPrivate::CheckReset()
{
    std::string seen;
    if (resetPassed)
        seen = "the reset was passed on";
    else if (answers != 1)
        seen = "answered by " + std::to_string(answers) + " ready notifications, not 1";
    else if (echoes != 1)
        seen = "the ready notification does not echo the reset's values";
    if (!seen.empty())
        Report(EMonitorRule::kResetAnswer, feeding, kCodeNtfy, seen);
    reset = nullptr;
}

void CBrickMonitorPrivate::SentDuringReset(const cMemBlock& block, bool command)
{
    if (!command || block.GetType() != kCodeNtfy || block.GetSize() < sizeof(uint32_t))
        return;
    const void* record = blocks.CommandRecord(block);
    if (record == reset)
        resetPassed = true;
    else if (*static_cast<const uint32_t*>(record) == rules.answerCode) {
        ++answers;
        echoes += rules.answers != nullptr && rules.answers(reset, record) ? 1 : 0;
    }
}

void CBrickMonitorPrivate::Sending(CBrick* sender, const cMemBlock& block, bool command)
{
    if (sender != brick)
        return;
    const std::lock_guard<std::mutex> lock(mutex);
    const char* call = command ? "SendCmd" : "SendData";
    if (depth == 0)
        Report(EMonitorRule::kForeignThread, feeding, block.GetType(), std::string(call) + " outside any handler call");
    else if (handlerThread != std::this_thread::get_id())
        Report(EMonitorRule::kForeignThread, feeding, block.GetType(),
               std::string(call) + " from another thread while " + handler + " runs");
    const bool isCommand = IsCommand(block, command);
    blocks.Sent(block, isCommand, feeding);
    if (reset != nullptr)
        SentDuringReset(block, isCommand);
}

void CBrickMonitorPrivate::LockMade(const void* lock)
{
    const std::lock_guard<std::mutex> guard(mutex);
    blocks.LockMade(lock);
    locks.Forget(lock);
}

void CBrickMonitorPrivate::LockGone(const void* lock)
{
    const std::lock_guard<std::mutex> guard(mutex);
    blocks.LockGone(lock);
    locks.Forget(lock);
}

void CBrickMonitorPrivate::Locked(const void* lock)
{
    const std::lock_guard<std::mutex> guard(mutex);
    blocks.LockTaken(lock, feeding);
    uint32_t type = handlerType;
    const bool nodeLock = blocks.IsNodeLock(lock, type);
    bool inversion = false;
    const std::string seen = locks.Taken(lock, nodeLock, inversion);
    if (!seen.empty())
        Report(inversion ? EMonitorRule::kLockInversion : EMonitorRule::kNodeLockOrder, feeding, type, seen);
}

void CBrickMonitorPrivate::Unlocking(const void* lock)
{
    const std::lock_guard<std::mutex> guard(mutex);
    locks.Given(lock);
}
