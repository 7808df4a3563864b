#!/usr/bin/env bash
# Regenerates samples/sample.wav, the sound vrn3-play plays when given no file: six seconds of
# mono IMA ADPCM at 8 kHz, a rising sweep over a steady fifth, synthesised by sox (no recording).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
sox -V1 -n -r 8000 -c 1 -e ima-adpcm sample.wav \
    synth 6 sine 220:1760 sine 330 sine 495 remix - gain -n -3 fade 0.05 6 0.4
sox --i sample.wav
