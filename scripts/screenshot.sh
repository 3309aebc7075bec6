#!/usr/bin/env bash
# Makes docs/station.png: the main window polling three simulated analyzers, drawn on the
# offscreen platform (no display needed).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
zta_setup fonts-dejavu-core

build="${ZTA_BUILD_DIR:-build}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target zta-k7 zta-sim

link="${ZTA_SIM_LINK:-/tmp/zta-k7-sim}"
"$build"/sim/zta-sim --link "$link" \
    --analyzer address=1,model=extended,conc=23 \
    --analyzer address=2,model=standard,gas=2,conc=12 \
    --analyzer address=3,model=extended,conc=41 >/dev/null 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null || true; wait $sim 2>/dev/null || true' EXIT
for _ in $(seq 1 50); do [ -e "$link" ] && break; sleep 0.1; done

mkdir -p docs
QT_QPA_PLATFORM=offscreen "$build"/app/zta-k7 --port "$link" --open 1,2,3 --connect \
    --screenshot docs/station.png --wait "${ZTA_SHOT_WAIT_MS:-4000}"
echo "docs/station.png"
