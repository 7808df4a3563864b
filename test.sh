#!/usr/bin/env bash
# Runs the tests: ./test.sh [release|asan] (see scripts/test.sh).
exec bash "$(dirname "${BASH_SOURCE[0]}")/scripts/test.sh" "$@"
