#!/usr/bin/env bash
# Set-up, build and every test, from nothing or from a warm build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --workflow --preset ci
