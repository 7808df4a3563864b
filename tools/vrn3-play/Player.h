// Player: one run of vrn3-play, from the input WAV to the extracted WAV.
//
// Run opens the input (checking its whole framing when it is a file) and the outputs, loads the
// plug-in and builds its brick for the chosen stream, plays the archive through the chain
// source -> plug-in brick -> sink in the stand-in host (synchronously, or with a thread per
// brick), checks what came out, and writes the sound in time order as an IMA ADPCM WAV whose
// rate is the one the plug-in announced, whose block align is the input's, and whose "fact"
// count is the input's when it has one. The input is read and the sound spooled chunk by chunk,
// so memory does not grow with the input. Every problem ends in a Failure (or std::bad_alloc).
// The input is the caller's, opened before the plan so that the plan knows it by what it is. The
// outputs are the caller's OutputPlan's: Run opens them once the input is known to be a WAV it
// can play; the caller calls Finish, which ends the capture with its end record, once whatever
// else can fail (the summary) has been written, and then commits them, so that a capture streamed
// to standard output or a FIFO ends whole only when the run succeeds. The pipeline, and with it
// every brick and block, is gone before the plug-in is unloaded.
#pragma once

#include "../common/OutputPlan.h"

#include "../../records/StreamRecords.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

class CaptureTaps;
class InputFile;

// The largest fragment payload when the command line names none: small enough that the records
// of a usual WAV (blocks of 256 bytes and more) come in several fragments, as archives carry them.
constexpr uint16_t kDefaultFragment = 100;

struct PlayOptions {
    std::string input;
    std::string output;
    std::string plugin;
    int stream = 1;
    uint16_t fragment = kDefaultFragment;
    bool reverse = false;
    bool threaded = false;
    bool progress = false;                  // show progress on stderr
    bool traceToStderr = false;             // the block lines go to stderr (else to the trace output, if any)
    size_t wav = OutputPlan::kNoOutput;     // the outputs, by their index in the plan
    size_t trace = OutputPlan::kNoOutput;   // the block lines
    size_t capture = OutputPlan::kNoOutput; // a pcapng file recording what crosses the plug-in brick
    size_t digests = OutputPlan::kNoOutput; // the digest lines of the blocks it sends downstream
};

struct PlayReport {
    // The input.
    uint32_t inputRate = 0;
    uint16_t inputBlockAlign = 0;
    uint64_t inputBytes = 0;
    uint64_t inputFact = 0; // UINT64_MAX when it has no fact chunk
    bool inputSeekable = false;
    // What the plug-in announced and extracted.
    TSoundStreamCfg config;
    uint64_t records = 0;
    uint64_t bytes = 0;
    uint64_t samples = 0; // the output's sample count
    uint32_t chunks = 0;
    uint64_t firstTime = 0;
    uint64_t lastTime = 0;
    double seconds = 0; // wall time of the play through the pipeline
    const char* outputKind = "";
};

class Player {
public:
    // `input` and `plan` (not owned) are the file to play and the outputs the options name.
    Player(const PlayOptions& options, const InputFile& input, OutputPlan& plan);
    ~Player();

    // Plays and writes the outputs, all but the capture's end and putting them in place. Throws
    // Failure or std::bad_alloc.
    PlayReport Run();
    // Ends the capture whole. Throws Failure(kExitOutput).
    void Finish();

private:
    PlayOptions mOptions;
    const InputFile& mInput;
    OutputPlan& mPlan;
    std::unique_ptr<CaptureTaps> mTaps; // lives from the play to Finish; a capture not finished stays cut short
};
