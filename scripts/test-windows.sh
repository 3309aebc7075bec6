#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows stage: builds the link, the engine, zta-bus and their tests with MinGW-w64 and runs
# them under Wine. zta-sim runs on the Linux side on a pseudo-terminal that the Wine prefix sees
# as two COM ports: com7 (opened as is) and com17 (opened as \\.\COM17).
#   ZTA_SIM: the Linux zta-sim to use (default: build/sim/zta-sim, built here if missing)
#   ZTA_WIN_BENCH_ROUNDS: exchanges per row of the exchange figures (default 40, 0 = none)
#   ZTA_POSIX_BENCH: the Linux exchange_port_bench to compare with (default: build/bench/...)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
echo "== Windows build: MinGW-w64, tests and zta-bus under Wine"
zta_setup "${zta_windows_packages[@]}"

root=$PWD/build-win
toolchain=$PWD/cmake/mingw-w64-x86_64.cmake
jobs=2
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_DIR=${CCACHE_DIR:-$PWD/.cache/ccache}
launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)

# GoogleTest for the target, from Debian's sources, once per build folder.
gtest=$root/gtest
if [ ! -f "$gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
    echo "-- GoogleTest for Windows"
    cmake -S /usr/src/googletest -B "$root/gtest-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" "${launcher[@]}" -DCMAKE_INSTALL_PREFIX="$gtest" \
        >/dev/null
    cmake --build "$root/gtest-build" -j "$jobs" >/dev/null
    cmake --install "$root/gtest-build" >/dev/null
fi

# Header-only libraries come from the host, seen through a prefix of their own: the host's
# /usr/include must never reach the cross compiler.
headers=$root/host-headers
rm -rf "$headers"
mkdir -p "$headers/include" "$headers/share/cmake"
ln -s /usr/include/nlohmann "$headers/include/nlohmann"
cp -r /usr/share/cmake/nlohmann_json "$headers/share/cmake/"

echo "-- station core for Windows"
cmake -S . -B "$root/station" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" "${launcher[@]}" -DZTA_ENGINE_ONLY=ON -DZTA_WERROR=ON \
    -DZTA_BUILD_BENCH=ON -DGTest_DIR="$gtest/lib/cmake/GTest" \
    -Dnlohmann_json_DIR="$headers/share/cmake/nlohmann_json" --no-warn-unused-cli >/dev/null
cmake --build "$root/station" -j "$jobs"

sim=${ZTA_SIM:-$PWD/build/sim/zta-sim}
if [ ! -x "$sim" ]; then
    echo "-- zta-sim for Linux"
    cmake -S . -B "$root/linux" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DZTA_ENGINE_ONLY=ON "${launcher[@]}" >/dev/null
    cmake --build "$root/linux" -j "$jobs" --target zta-sim
    sim=$root/linux/sim/zta-sim
fi

# A throw-away prefix: created without dialogs, and no Wine process outlives this script.
export WINEPREFIX=$root/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
sim_pid=""
finish() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
}
trap finish EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "-- Wine prefix"
    wineboot -i >/dev/null 2>&1
fi
# One server and one set of Wine's own services for every call, started here with nowhere to
# write: a service started by a test would hold the test's output pipe open after it ends.
wineserver -w
wineserver -p >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1

# The simulator: 1 (also 2) and a half-reply analyzer at 3 at 9600 baud, 11 (also 12) at 19200.
sim_out=$root/zta-sim.out
"$sim" --analyzer address=1,also=2 --analyzer address=3,fault=short \
    --analyzer address=11,also=12,baud=19200 >"$sim_out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
    grep -q '^port: ' "$sim_out" && break
    sleep 0.1
done
pty=$(sed -n 's/^port: //p' "$sim_out")
[ -n "$pty" ] || { cat "$sim_out"; echo "zta-sim did not start"; exit 1; }
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com7"
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com17"

echo "-- tests under Wine"
ZTA_TEST_PORT=COM7 ZTA_TEST_LONG_PORT=COM17 \
    ctest --test-dir "$root/station" --output-on-failure --timeout 600

echo "-- zta-bus.exe against the simulator"
bus() { wine "$root/station/tools/zta-bus.exe" "$@" 2>&1; }
failed=0
expect() {  # expect STATUS TEXT -- ARGS...
    local status=$1 text=$2
    shift 3
    local out rc=0
    out=$(bus "$@") || rc=$?
    if [ "$rc" != "$status" ] || [[ "$out" != *"$text"* ]]; then
        echo "FAILED: zta-bus $* gave $rc (wanted $status with '$text'):"
        echo "$out" | tail -n 5
        failed=1
    else
        echo "ok: zta-bus $*"
    fi
}
expect 0 '"threshold1":20' -- read --port COM7 --address 1 --json
expect 0 'gas=1(CH4)' -- read --port COM17 --address 2 --extended
expect 0 'threshold1 accepted (register 5, value 33)' -- write --port COM17 --address 1 threshold1 33
expect 0 '"threshold1":33' -- read --port COM7 --address 2 --json
expect 0 '"errorCount":0' -- poll --port COM7 --address 1,3 --turns 4 --json
expect 0 '"found":[1,2]' -- scan --port COM17 --timeout 40 --json
expect 0 '"found":[11,12]' -- scan --port COM7 --baud 19200 --timeout 40 --json
expect 4 'no reply from network number 9' -- read --port COM17 --address 9
expect 3 'Порт COM5 указан неверно' -- read --port COM5 --address 1
expect 3 'Порт \\.\COM42 указан неверно' -- read --port COM42 --address 1
expect 1 'this build has no Qt' -- verify --plan plan.json --port COM7

# The network line from Windows: ser2net (raw TCP) on the Linux side, in front of the same
# simulator; a read, then a poll whose connection is dropped and comes back.
if command -v ser2net >/dev/null; then
    echo "-- zta-bus.exe through ser2net"
    net_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    printf 'connection: &raw\n  accepter: tcp,127.0.0.1,%s\n  connector: serialdev,%s,9600n81,local\n' \
        "$net_port" "$pty" >"$root/ser2net.yaml"
    start_ser2net() {
        ser2net -n -u -c "$root/ser2net.yaml" -P "$root/ser2net.pid" >>"$root/ser2net.log" 2>&1 &
        ser2net_pid=$!
        for _ in $(seq 200); do
            # Listening (state 0A) on the port, from the kernel's table.
            grep -q ":$(printf %04X "$net_port") 00000000:0000 0A" /proc/net/tcp && return 0
            sleep 0.1
        done
        return 1
    }
    start_ser2net || { echo "ser2net did not start"; exit 1; }
    expect 0 '"threshold1":33' -- read --port "tcp://127.0.0.1:$net_port" --address 1 --json
    poll_out=$root/net-poll.out
    bus poll --port "tcp://127.0.0.1:$net_port" --address 1 --turns 30 --json >"$poll_out" &
    poll_pid=$!
    for _ in $(seq 300); do grep -q '"outcome":"data"' "$poll_out" && break; sleep 0.1; done
    kill "$ser2net_pid"
    wait "$ser2net_pid" 2>/dev/null || true
    for _ in $(seq 300); do grep -q '"outcome":"timeout"' "$poll_out" && break; sleep 0.1; done
    start_ser2net || { echo "ser2net did not start again"; exit 1; }
    poll_rc=0
    wait "$poll_pid" || poll_rc=$?
    kill "$ser2net_pid" 2>/dev/null && wait "$ser2net_pid" 2>/dev/null || true
    # Data, then time-outs while the server was away, then data again; no crash.
    if [ "$poll_rc" -ge 128 ] ||
        ! grep -o '"outcome":"[a-z]*"' "$poll_out" | uniq | tr '\n' ' ' |
            grep -q 'data.*timeout.*data'; then
        echo "FAILED: poll through a dropped connection (exit $poll_rc):"
        tail -n 5 "$poll_out"
        failed=1
    else
        echo "ok: zta-bus poll through a dropped connection"
    fi
fi
[ "$failed" = 0 ] || exit 1

rounds=${ZTA_WIN_BENCH_ROUNDS:-40}
if [ "$rounds" -gt 0 ]; then
    echo "-- exchange figures: Win32 backend under Wine"
    wine "$root/station/bench/exchange_port_bench.exe" COM17 "$rounds" 2>&1
    posix_bench=${ZTA_POSIX_BENCH:-build/bench/exchange_port_bench}
    if [ -x "$posix_bench" ]; then
        echo "-- the same with the POSIX backend"
        "$posix_bench" "$pty" "$rounds"
    fi
fi
