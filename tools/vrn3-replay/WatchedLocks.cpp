// vrn3-replay's own definitions of the host's lock calls, which the host library lets a program
// interpose on (the program exports them, so that the host library and the plug-in call them
// too): each goes to the host's lock through CBrickMonitor, which tells the living monitor, so
// that --validate sees the lock order of every thread.
#include "../../host/CBrickMonitor.h"

bool CCriticalSection::Lock(unsigned long timeout)
{
    return CBrickMonitor::Lock(this, timeout);
}

bool CCriticalSection::Unlock()
{
    return CBrickMonitor::Unlock(this);
}
