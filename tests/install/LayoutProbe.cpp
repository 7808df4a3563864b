// Names every record of the host boundary, so that this program's debug information describes
// each layout as the compiler lays it out with the project's flags, including records that the
// plug-in itself never touches. The layout checks read it back; the program is never run.
#include "../../blocks/TBrickConfig.h"
#include "../../records/ControlRecords.h"
#include "../../records/StreamRecords.h"

struct TAllRecords {
    TBrickConfig* brickConfig;
    HDR_T* header;
    STREAM_T* stream;
    DATA_T* data;
    DATA_T_VIDEO* video;
    TStreamTag* tag;
    TSoundData* sound;
    TSoundStreamCfg* soundCfg;
    TCmdRequestChunk* chunk;
    TCmdPlay* play;
    TNotifyBase* notify;
    TNotifyMessage* message;
    TEventListEntry* event;
    TEventList* events;
    TReadyNotification* ready;
    TVRN3ResetNotify* reset;
    TSrcTimeRange* timeRange;
    TActivityGist* gist;
};

TAllRecords gAllRecords;

int main()
{
    return gAllRecords.header == nullptr ? 0 : 1;
}
