// The host's own state of a brick, behind CBrick's private pointer.
//
// Connections, owned bricks and the configuration are touched only while the pipeline is being
// built or torn down, by one thread. The two queues are shared between the threads that send
// blocks to the brick and the one thread that delivers them: they are guarded by `mutex`, and
// `wake` tells the brick's thread that a block arrived. A brick of a pipeline that runs
// synchronously is fed and run by that pipeline's one thread: while `oneThread` is set its
// queues are touched without the mutex and nobody is woken.
#pragma once

#include "../blocks/CBrick.h"
#include "../blocks/cBlockQueue.h"
#include "../blocks/cMemBlock.h"

#include "CBrickTap.h"

#include <condition_variable>
#include <mutex>
#include <vector>

struct CPipelinePrivate;

struct CBrickPrivate {
    CBrick* next = nullptr;
    CBrick* previous = nullptr;
    std::vector<CBrick*> owned; // destroyed with this brick
    TBrickConfig config{};
    bool created = false; // Create stored a configuration
    bool onCreateRan = false;
    bool stopped = false;
    uint32_t signature = 0;
    CPipelinePrivate* pipeline = nullptr; // the pipeline that runs this brick, if any
    CBrickTap* tap = nullptr;             // told of every block crossing the brick; set while
                                          // the brick is not running
    bool oneThread = false;               // its pipeline runs synchronously; set by the pipeline
                                          // while no brick thread runs

    std::mutex mutex; // guards the two queues
    std::condition_variable wake;
    cBlockQueue control; // rings: no allocation per block once grown
    cBlockQueue data;
};
