// Watching blocks: copies at the hand-over and the send, comparisons after the call and at the
// release, the visited lists, the commands passed on, the released nodes and the leaks.
#include "CBlockWatch.h"

#include "../blocks/cCommandBlockNode.h"
#include "../records/HostRecords.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace {

// The node behind a handle, read as the host reads it.
struct NodeAccess : cMemBlock {
    using cMemBlock::NodeOf;
};

// Every command node has this layout up to its record, whose alignment is at most a pointer's.
using CommandNode = cEventListBlock::node;

const cMemBlock::node* NodeOf(const cMemBlock& block)
{
    return NodeAccess::NodeOf(block);
}

std::string Range(size_t first, size_t last)
{
    return first == last ? "byte " + std::to_string(first)
                         : "bytes " + std::to_string(first) + "-" + std::to_string(last);
}

} // namespace

CBlockWatch::CBlockWatch(Report report) : mReport(std::move(report))
{
    const cEventListBlock probe; // a command node's record, measured from its node
    mCommandData = static_cast<size_t>(reinterpret_cast<const char*>(probe.GetData()) -
                                       reinterpret_cast<const char*>(NodeOf(probe)));
    const cMemBlock::node& node = cMemBlock::mDefNode;
    mLockOffset =
        static_cast<size_t>(reinterpret_cast<const char*>(&node.mLock) - reinterpret_cast<const char*>(&node));
}

const uint8_t* CBlockWatch::DataOf(const cMemBlock::node* node, bool command) const
{
    // A structure block's record and a generic block's data follow the node header directly.
    return command ? reinterpret_cast<const uint8_t*>(node) + mCommandData : reinterpret_cast<const uint8_t*>(node + 1);
}

CBlockWatch::Watched& CBlockWatch::Watch(const cMemBlock::node* node, bool command, uint64_t index)
{
    const auto placed = mNodes.emplace(node, Watched());
    Watched& watched = placed.first->second;
    if (placed.second) {
        watched.type = node->mType;
        watched.index = index;
        watched.command = command;
        const uint8_t* data = DataOf(node, command);
        watched.bytes.assign(data, data + node->mSize);
    }
    return watched;
}

void CBlockWatch::HandedOver(const cMemBlock& block, bool command, uint64_t index)
{
    const cMemBlock::node* node = NodeOf(block);
    if (node == &cMemBlock::mDefNode)
        return; // the host's own, never released
    Watched& watched = Watch(node, command, index);
    watched.received = true;
    if (command) {
        const CommandNode* c = static_cast<const CommandNode*>(node);
        watched.visited.assign(c->mVisited, c->mVisited + c->mVisitedCount);
    }
}

void CBlockWatch::Sent(const cMemBlock& block, bool command, uint64_t index)
{
    const cMemBlock::node* node = NodeOf(block);
    if (node == &cMemBlock::mDefNode)
        return;
    Watched& watched = Watch(node, command, index);
    if (command && watched.passed)
        mReport(EMonitorRule::kPassedTwice, index, watched.type, "passed on again");
    watched.passed = watched.passed || command;
    mSentInCall.push_back(node);
}

// What changed in a watched block since its copy ("" when nothing); the copy then follows it, so
// that one change is told once.
std::string CBlockWatch::Changed(const cMemBlock::node* node, Watched& watched) const
{
    const uint8_t* data = DataOf(node, watched.command);
    if (node->mSize != watched.bytes.size()) {
        const std::string seen =
            "size " + std::to_string(watched.bytes.size()) + " became " + std::to_string(node->mSize);
        watched.bytes.assign(data, data + node->mSize);
        return seen;
    }
    size_t first = 0, last = watched.bytes.size();
    while (first < last && data[first] == watched.bytes[first])
        ++first;
    if (first == last)
        return "";
    while (data[last - 1] == watched.bytes[last - 1])
        --last;
    std::memcpy(watched.bytes.data() + first, data + first, last - first);
    return Range(first, last - 1) + " changed";
}

void CBlockWatch::CheckVisited(const cMemBlock::node* node, const Watched& watched, const char* handler)
{
    const CommandNode* c = static_cast<const CommandNode*>(node);
    const std::vector<const void*> now(c->mVisited, c->mVisited + c->mVisitedCount);
    std::map<const void*, int> seen;
    bool twice = false;
    for (const void* brick : now)
        twice = twice || ++seen[brick] > 1;
    const bool kept =
        now.size() >= watched.visited.size() && std::equal(watched.visited.begin(), watched.visited.end(), now.begin());
    if (!kept || twice)
        mReport(EMonitorRule::kVisitedList, watched.index, watched.type,
                std::string(kept ? "a brick listed twice" : "entries removed or changed") + " during " + handler);
}

void CBlockWatch::CallEnded(const cMemBlock& block, const char* handler)
{
    const cMemBlock::node* node = NodeOf(block);
    const auto it = mNodes.find(node);
    if (it != mNodes.end()) {
        const std::string seen = Changed(node, it->second);
        if (!seen.empty())
            mReport(EMonitorRule::kReceivedModified, it->second.index, it->second.type, seen + " during " + handler);
        if (it->second.command)
            CheckVisited(node, it->second, handler);
    }
    for (const cMemBlock::node* sent : mSentInCall) {
        const auto at = mNodes.find(sent);
        if (at == mNodes.end() || at->second.received)
            continue; // released meanwhile, or checked as received
        const std::string seen = Changed(sent, at->second);
        if (!seen.empty())
            mReport(EMonitorRule::kSentModified, at->second.index, at->second.type,
                    seen + " after the send, in the same " + handler + " call");
    }
    mSentInCall.clear();
}

bool CBlockWatch::IsNodeLock(const void* lock, uint32_t& type) const
{
    const auto it = mNodes.find(reinterpret_cast<const cMemBlock::node*>(static_cast<const char*>(lock) - mLockOffset));
    if (it == mNodes.end())
        return false;
    type = it->second.type;
    return true;
}

const void* CBlockWatch::CommandRecord(const cMemBlock& block) const
{
    return DataOf(NodeOf(block), true);
}

void CBlockWatch::LockMade(const void* lock)
{
    mReleased.erase(lock);
}

// A watched node's lock is destroyed with the node: the node is released. Its record is
// destroyed too, but its bytes stay until the storage is used again.
void CBlockWatch::LockGone(const void* lock)
{
    const auto* node = reinterpret_cast<const cMemBlock::node*>(static_cast<const char*>(lock) - mLockOffset);
    const auto it = mNodes.find(node);
    if (it == mNodes.end())
        return;
    Watched& watched = it->second;
    const std::string seen = Changed(node, watched);
    if (!seen.empty())
        mReport(watched.received ? EMonitorRule::kReceivedModified : EMonitorRule::kSentModified, watched.index,
                watched.type, seen + (watched.received ? " while the brick held it" : " after the send"));
    mReleased[lock] = Released{watched.type, watched.index};
    mNodes.erase(it);
}

void CBlockWatch::LockTaken(const void* lock, uint64_t index)
{
    const auto it = mReleased.find(lock);
    if (it == mReleased.end())
        return;
    mReport(EMonitorRule::kUsedAfterRelease, index, it->second.type,
            "the node of packet " + std::to_string(it->second.index) + " was released, then its lock taken");
    mReleased.erase(it);
}

void CBlockWatch::BrickGone()
{
    std::map<uint32_t, std::pair<uint64_t, size_t>> held; // type -> first index, count
    for (const auto& entry : mNodes) {
        auto placed = held.emplace(entry.second.type, std::make_pair(entry.second.index, size_t{0}));
        placed.first->second.first = std::min(placed.first->second.first, entry.second.index);
        ++placed.first->second.second;
    }
    for (const auto& type : held)
        mReport(EMonitorRule::kBlockLeaked, type.second.first, type.first,
                std::to_string(type.second.second) + " block(s) of the type still held after the brick was destroyed");
    mNodes.clear();
}
