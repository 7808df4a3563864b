// Player: one run of vrn3-play, from the input WAV to the extracted WAV.
//
// Run reads the input, loads the plug-in and builds its brick for the chosen stream, plays the
// archive through the chain source -> plug-in brick -> sink in the stand-in host (synchronously,
// or with a thread per brick), checks what came out, and writes the sound in time order as an
// IMA ADPCM WAV whose rate is the one the plug-in announced and whose block align is that of the
// largest record. Every problem ends in a Failure; no output file exists unless Run returns. The
// pipeline, and with it every brick and block, is gone before the plug-in is unloaded.
#pragma once

#include "records/StreamRecords.h"

#include <cstdint>
#include <string>

struct PlayOptions {
    std::string input;
    std::string output;
    std::string plugin;
    int stream = 1;
    uint16_t fragment = 0;
    bool reverse = false;
    bool trace = false;
    bool threaded = false;
};

struct PlayReport {
    TSoundStreamCfg config;
    size_t records = 0;
    uint64_t bytes = 0;
    uint64_t samples = 0;
    uint32_t chunks = 0;
    uint64_t firstTime = 0;
    uint64_t lastTime = 0;
    double seconds = 0;  // wall time of the play through the pipeline
};

class Player {
public:
    explicit Player(const PlayOptions& options) : mOptions(options) {}
    // Throws Failure.
    PlayReport Run();

private:
    PlayOptions mOptions;
};
