// The host's event lists: made and read with the host library's own QList code.
#include "CEventLists.h"

cMemBlock CEventLists::Make(const std::vector<TEventListEntry>& entries)
{
    cEventListBlock block;
    for (const TEventListEntry& entry : entries)
        block.Record().entries.append(entry);
    return block;
}

std::vector<TEventListEntry> CEventLists::Read(const cMemBlock& block)
{
    const cEventListBlock view(block);
    const QList<TEventListEntry>& entries = view.Record().entries;
    return std::vector<TEventListEntry>(entries.begin(), entries.end());
}
