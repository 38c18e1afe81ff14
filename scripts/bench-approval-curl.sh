#!/usr/bin/env bash
# Holds many permission requests at once against a real Lomex and measures how long its GUI
# thread stalls meanwhile, with the agents tab open: the app runs on its own Xvfb with a
# throwaway home, real curl processes post to /permission all at once (each held until it is
# answered), and the debug socket is pinged every 5 ms (its answer comes from the GUI thread).
# Prints the longest round trip and how many went over 50 ms; leaves a screenshot of the
# screen with the cards. Kills everything it started.
#
# Usage: scripts/bench-approval-curl.sh [requests] [command length] [port] [runs]
#        (defaults: 32 requests, 20000 characters without a blank, port 47322, 1 run)
# Env: LOMEX (the binary, default build/lomex), OUT (where screenshots and figures go, default
#      a fresh folder under /tmp), SHAPE=words for a command of words instead of one token.
set -euo pipefail

requests="${1:-32}"
length="${2:-20000}"
port="${3:-47322}"
runs="${4:-1}"
here="$(cd "$(dirname "$0")/.." && pwd)"
lomex="${LOMEX:-$here/build/lomex}"
out="${OUT:-$(mktemp -d /tmp/lomex-approval-run-XXXXXX)}"
shape="${SHAPE:-unbroken}"
mkdir -p "$out"

pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
    pids=()
}
trap cleanup EXIT

# The bodies, written before anything is timed: one token of letters, digits and symbols (a
# blob, a minified one-liner), or the same length written as words; one session each, as
# parallel sub-agents ask.
bodies="$out/bodies"
mkdir -p "$bodies"
python3 - "$length" "$shape" "$requests" "$bodies" <<'EOF'
import json, sys
n, shape, count, dest = int(sys.argv[1]), sys.argv[2], int(sys.argv[3]), sys.argv[4]
if shape == "words":
    words = "echo the quick brown fox jumps over a lazy dog &&".split()
    cmd = ""
    while len(cmd) < n:
        cmd += words[len(cmd) % len(words)] + " "
    cmd = cmd[:n]
else:
    alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=;.-_"
    cmd = "".join(alphabet[(i * 7 + i // 13) % len(alphabet)] for i in range(n))
for i in range(count):
    with open("%s/body-%d.json" % (dest, i), "w") as f:
        json.dump({"session_id": "sub-agent-%d" % i, "cwd": "/work/project", "hook_event_name": "PermissionRequest",
                   "tool_name": "Bash", "tool_input": {"command": cmd, "description": "Run the step"},
                   "permission_suggestions": [{"type": "addRules", "rules": [{"toolName": "Bash"}],
                                               "behavior": "allow", "destination": "session"}]}, f)
EOF

# Pings the socket every 5 ms for the given seconds; one line per ping: seconds since the
# epoch when it was sent, round trip in ms.
pinger='
import socket, sys, time
path, secs, dest = sys.argv[1], float(sys.argv[2]), sys.argv[3]
end = time.monotonic() + secs
rows = []
while time.monotonic() < end:
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.settimeout(10)
    at, t = time.time(), time.monotonic()
    s.connect(path)
    s.sendall(b"ping\n")
    data = b""
    while b"\n" not in data:
        chunk = s.recv(4096)
        if not chunk:
            break
        data += chunk
    s.close()
    rows.append((at, (time.monotonic() - t) * 1000))
    time.sleep(0.005)
with open(dest, "w") as f:
    f.writelines("%.4f %.3f\n" % row for row in rows)
'

for ((run = 1; run <= runs; run++)); do
    h="$(mktemp -d /tmp/lomex-approval-home-XXXXXX)"
    mkdir -p "$h/.config/Lomex" "$h/.local/share" "$h/.cache" "$h/run"
    chmod 700 "$h/run"
    # Monitoring on, the setup wizard seen: the first thing on screen is the notch.
    printf '{"agentsEnabled": true, "onboardingDone": true}\n' >"$h/.config/Lomex/settings.json"
    export HOME="$h" XDG_CONFIG_HOME="$h/.config" XDG_DATA_HOME="$h/.local/share" XDG_CACHE_HOME="$h/.cache" \
        XDG_RUNTIME_DIR="$h/run" LOMEX_HOOK_PORT="$port"
    Xvfb -displayfd 1 -screen 0 1920x1080x24 -nolisten tcp >"$h/display" 2>/dev/null &
    pids+=($!)
    for _ in $(seq 100); do [ -s "$h/display" ] && break; sleep 0.05; done
    export DISPLAY=":$(head -1 "$h/display")"
    "$lomex" >"$h/app.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 200); do curl -fsS --max-time 1 "http://127.0.0.1:$port/health" >/dev/null 2>&1 && break; sleep 0.05; done
    "$lomex" --show agents >/dev/null
    sleep 1

    python3 -c "$pinger" "$h/run/lomex-debug.sock" 5 "$h/pings.txt" &
    pinger_pid=$!
    sleep 0.5
    posted=$(date +%s.%N)
    curls=()
    for ((i = 0; i < requests; i++)); do
        curl -s -m 590 -X POST -H 'Content-Type: application/json' --data-binary "@$bodies/body-$i.json" \
            "http://127.0.0.1:$port/permission?src=lomex-agent" >"$h/reply-$i.txt" 2>/dev/null &
        curls+=($!)
        pids+=($!)
    done
    wait "$pinger_pid"
    shot="$out/run-$run.png"
    import -window root "$shot" 2>/dev/null || true
    awk -v run="$run" -v n="$requests" -v len="$length" -v shape="$shape" -v posted="$posted" '
        { c++; if ($2 > m) m = $2; if ($2 > 50) over++; if ($2 > 16) o16++
          if ($1 >= posted) { a++; if ($2 > ma) ma = $2 } }
        END { printf "run %d: %d requests, %s %d characters: %d pings (%d after the posts), longest %.1f ms (%.1f after the posts), over 50 ms: %d, over 16 ms: %d\n",
                     run, n, shape, len, c, a, m, ma, over + 0, o16 + 0 }' "$h/pings.txt"
    held=0
    for p in "${curls[@]}"; do kill -0 "$p" 2>/dev/null && held=$((held + 1)); done
    echo "  requests held by the app at the end: $held of $requests; screenshot $shot"
    cp "$h/pings.txt" "$out/pings-$run.txt"
    cp "$h/app.log" "$out/app-$run.log"
    cleanup
    rm -rf "$h"
done
echo "figures and screenshots in $out"
