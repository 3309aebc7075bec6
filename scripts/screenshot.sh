#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes docs/station.png (the main window polling three simulated analyzers), docs/trend.png
# (the trend of a moving reading, opened from a saved bench), docs/bus_overview.png and
# docs/traffic_monitor.png (fifty analyzers in fast polling), docs/network_line.png (a line
# behind ser2net) and the pictures of the operator's
# dialogs in docs/, drawn on the offscreen platform (no display needed). The station runs
# installed into a scratch folder for a user "operator", so the pictures show the record folder
# a user sees, not this machine's paths.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
zta_setup fonts-dejavu-core

build="${ZTA_BUILD_DIR:-build}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target zta-k7 zta-sim zta-bus zta_package_files

link="${ZTA_SIM_LINK:-/tmp/zta-k7-sim}"
"$build"/sim/zta-sim --link "$link" \
    --analyzer address=1,model=extended,conc=23 \
    --analyzer address=2,model=standard,gas=2,conc=12 \
    --analyzer address=3,model=extended,conc=41 \
    --analyzer address=4,model=extended,conc=30,wave=sine,amp=12,period=40 >/dev/null 2>&1 &
sim=$!
# The station runs in a folder of its own: a calibration file lying around here must neither
# colour the pictures nor be overwritten.
work="$(mktemp -d)"
trap 'kill $sim 2>/dev/null || true; wait $sim 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 1 50); do [ -e "$link" ] && break; sleep 0.1; done

mkdir -p docs
cmake --install "$build" --prefix "$work/usr" >/dev/null
station="$work/usr/bin/zta-k7"
docs="$PWD/docs"
# Nothing is written under this home: the pictures need no record and the caches go elsewhere.
export HOME=/home/operator XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" \
    QT_QPA_PLATFORM=offscreen
(cd "$work" && "$station" --port "$link" --open 1,2,3 --connect \
    --screenshot "$docs/station.png" --wait "${ZTA_SHOT_WAIT_MS:-4000}")
# The trend: a bench with one analyzer window, its trend shown over the last minute.
cat > "$work/trend-bench.json" <<EOF
{ "format": "zta-k7 bench", "version": 1, "port": "$link", "baudRate": 9600,
  "windows": [ { "networkNumber": 4, "trend": true, "trendSpanSeconds": 60,
                 "x": 0, "y": 0, "width": 1380, "height": 520 } ] }
EOF
(cd "$work" && "$station" --port "$link" --bench trend-bench.json \
    --connect --screenshot "$docs/trend.png" --wait "${ZTA_TREND_WAIT_MS:-50000}")
(cd "$work" && rm -f CalDataK7.cfg &&
    "$station" --dialog-screenshots "$docs")

# Fifty analyzers on a second line: the bus overview and the traffic monitor.
bench_link="${link}-50"
specs=()
for i in $(seq 1 50); do
    if [ $((i % 2)) = 0 ]; then
        specs+=(--analyzer "address=$i,model=standard,gas=$((i % 3 == 0 ? 2 : 1)),wave=sine,conc=$((i % 40 + 5)),amp=3,period=$((20 + i % 17))")
    else
        specs+=(--analyzer "address=$i,model=extended,wave=ramp,conc=$((i % 30 + 5)),amp=4,period=$((15 + i % 23))")
    fi
done
"$build"/sim/zta-sim --link "$bench_link" "${specs[@]}" >/dev/null 2>&1 &
sim50=$!
trap 'kill $sim $sim50 2>/dev/null || true; wait $sim $sim50 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 1 50); do [ -e "$bench_link" ] && break; sleep 0.1; done
(cd "$work" && rm -f CalDataK7.cfg &&
    "$station" --port "$bench_link" --open "$(seq -s, 1 50)" \
        --connect --fast --overview --screenshot "$docs/bus_overview.png" \
        --monitor-screenshot "$docs/traffic_monitor.png" --wait "${ZTA_SHOT50_WAIT_MS:-15000}")
# A line in another room: the same kind of bus behind ser2net, reached as tcp://.
zta_setup ser2net
net_link="${link}-net"
"$build"/sim/zta-sim --link "$net_link" \
    --analyzer address=5,model=extended,conc=17 \
    --analyzer address=6,model=standard,gas=1,conc=9 >/dev/null 2>&1 &
simnet=$!
for _ in $(seq 1 50); do [ -e "$net_link" ] && break; sleep 0.1; done
net_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'connection: &bench\n  accepter: tcp,127.0.0.1,%s\n  connector: serialdev,%s,9600n81,local\n  options:\n    chardelay: false\n' \
    "$net_port" "$(readlink -f "$net_link")" > "$work/ser2net.yaml"
ser2net -n -u -c "$work/ser2net.yaml" -P "$work/ser2net.pid" &
ser2net_pid=$!
trap 'kill $sim $sim50 $simnet $ser2net_pid 2>/dev/null || true; wait $sim $sim50 $simnet $ser2net_pid 2>/dev/null || true; rm -rf "$work"' EXIT
# ser2net is ready when its port is in the kernel's table of listening sockets.
for _ in $(seq 1 100); do
    grep -q ":$(printf '%04X' "$net_port") 00000000:0000 0A" /proc/net/tcp && break
    sleep 0.1
done
(cd "$work" && rm -f CalDataK7.cfg &&
    "$station" --port "tcp://127.0.0.1:$net_port" --open 5,6 --connect \
        --screenshot "$docs/network_line.png" --wait "${ZTA_SHOT_WAIT_MS:-4000}")
ls docs/*.png
