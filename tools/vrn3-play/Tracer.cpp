// The trace's lines: where a block crosses, then the block as BlockText describes it.
#include "Tracer.h"

#include "../common/BlockText.h"

#include "../../records/BlockTypes.h"

#include <cinttypes>

std::string Tracer::Describe(EPath path, bool control, const cMemBlock& block)
{
    static const char* const paths[] = {"in   source>brick", "out  brick>source", "in   sink>brick  ",
                                        "out  brick>sink  "};
    return std::string(paths[path]) + (control ? "  ctrl  " : "  data  ") + BlockText::Describe(block);
}

void Tracer::Block(EPath path, bool control, const cMemBlock& block)
{
    if (mOut == nullptr)
        return;
    const std::string line = Describe(path, control, block);
    std::lock_guard<std::mutex> lock(mLock);
    std::fprintf(mOut, "%6" PRIu64 "  %s\n", ++mLines, line.c_str());
}
