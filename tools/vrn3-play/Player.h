// Player: one run of vrn3-play, from the input WAV to the extracted WAV.
//
// Run opens the input (checking its whole framing when it is a file) and the output, loads the
// plug-in and builds its brick for the chosen stream, plays the archive through the chain
// source -> plug-in brick -> sink in the stand-in host (synchronously, or with a thread per
// brick), checks what came out, and writes the sound in time order as an IMA ADPCM WAV whose
// rate is the one the plug-in announced, whose block align is the input's, and whose "fact"
// count is the input's when it has one. The input is read and the sound spooled chunk by chunk,
// so memory does not grow with the input. Every problem ends in a Failure (or std::bad_alloc).
// The new file takes the target's place only in Commit, which the caller calls once whatever
// else can fail (the trace, the summary) has been written; a Player that goes without Commit
// leaves the target as it was. The pipeline, and with it every brick and block, is gone before
// the plug-in is unloaded.
#pragma once

#include "records/StreamRecords.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

class OutputFile;

struct PlayOptions {
    std::string input;
    std::string output;
    std::string plugin;
    int stream = 1;
    uint16_t fragment = 0;
    bool reverse = false;
    bool threaded = false;
    std::FILE* trace = nullptr; // where the block lines go; none when null
    bool progress = false;      // show progress on stderr
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
    explicit Player(const PlayOptions& options);
    ~Player();

    // Plays and writes the output, all but putting it in place. Throws Failure or std::bad_alloc.
    PlayReport Run();
    // Puts the written output in the target's place. Throws Failure(kExitOutput).
    void Commit();

private:
    PlayOptions mOptions;
    std::unique_ptr<OutputFile> mOutput;
};
