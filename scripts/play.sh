#!/usr/bin/env bash
# Builds the player and plays the song it carries (Esc stops it).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
cantilena_install_deps
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target cantilena -j "$(nproc)"
exec ./build/app/cantilena
