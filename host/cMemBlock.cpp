// The host's out-of-line parts of cMemBlock: the destructor (the class's key function, so the
// virtual table and type information live here), the generic data address, and mDefNode.
#include "../blocks/cMemBlock.h"

// Born with count 1: the host's own reference, held for the life of the process, so default
// handles can come and go without ever releasing this static node.
cMemBlock::node cMemBlock::mDefNode;

cMemBlock::~cMemBlock()
{
    mNode->unref();
}

// A generic block's data lies right after its node header.
void* cMemBlock::GetData()
{
    return mNode + 1;
}

const void* cMemBlock::GetData() const
{
    return mNode + 1;
}
