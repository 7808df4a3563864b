// The typed blocks of the stream: one name per record and code. A host makes the blocks it puts
// on a brick's data path with DataPathBlocks.h.
#pragma once

#include "../blocks/cCommandBlock.h"
#include "../blocks/cStructBlock.h"
#include "ControlRecords.h"
#include "StreamRecords.h"

// Data path: pooled structure blocks, copied on write.
using cHeaderBlock = cStructBlock<HDR_T, kCodeHdr3>;
using cDataBlock = cStructBlock<DATA_T, kCodeDat3>;
using cVideoBlock = cStructBlock<DATA_T_VIDEO, kCodeVid3Record>;
using cTagBlock = cStructBlock<TStreamTag, kCodeTag>;
using cSoundBlock = cStructBlock<TSoundData, kCodeSCDA>;

// Control and notification path: shared command records with a visited list (the event list's
// block, cEventListBlock, is in HostRecords.h).
using cChunkCmdBlock = cCommandBlock<TCmdRequestChunk, kCodeChun>;
using cPlayCmdBlock = cCommandBlock<TCmdPlay, kCodePlay>;
using cNotifyBlock = cCommandBlock<TNotifyBase, kCodeNtfy>;
using cSoundCfgBlock = cCommandBlock<TSoundStreamCfg, kCodeNtfy>;
using cMessageBlock = cCommandBlock<TNotifyMessage, kCodeNtfy>;
using cReadyBlock = cCommandBlock<TReadyNotification, kCodeNtfy>;
using cResetBlock = cCommandBlock<TVRN3ResetNotify, kCodeNtfy>;
using cTimeRangeBlock = cCommandBlock<TSrcTimeRange, kCodeNtfy>;
using cGistBlock = cCommandBlock<TActivityGist, kCodeNtfy>;
