#!/usr/bin/env bash
# Times real curl posts against a running hook server, the way the hook commands send them.
# Usage: scripts/bench-hook-curl.sh [count] [port]      (defaults: 200 posts, port 7841)
set -euo pipefail

count="${1:-200}"
port="${2:-7841}"
url="http://127.0.0.1:${port}/event?src=lomex-agent"
payload='{"session_id":"bench-curl","cwd":"/tmp","hook_event_name":"PreToolUse","tool_name":"Bash","tool_input":{"command":"ls -la","description":"List"}}'

if ! curl -fsS --max-time 2 "http://127.0.0.1:${port}/health" >/dev/null; then
    echo "no hook server answers on 127.0.0.1:${port}" >&2
    exit 1
fi

times_file="$(mktemp)"
trap 'rm -f "$times_file"' EXIT

failures=0
for ((i = 0; i < count; i++)); do
    # time_total covers connect, send, server work and the answer, in seconds.
    if ! printf '%s' "$payload" | curl -sS --max-time 5 -o /dev/null -w '%{http_code} %{time_total}\n' \
        -X POST -H 'Content-Type: application/json' -H 'X-Term-Program: bench' -H 'X-Bundle-Id: bench.desktop' \
        --data-binary @- "$url" >>"$times_file"; then
        failures=$((failures + 1))
    fi
done

start_ns=$(date +%s%N)
for ((i = 0; i < count; i++)); do
    printf '%s' "$payload" | curl -sS --max-time 5 -o /dev/null -X POST --data-binary @- "$url" || true
done
wall_ms=$(( ($(date +%s%N) - start_ns) / 1000000 ))

bad=$(awk '$1 != "200"' "$times_file" | wc -l)
echo "curl posts: ${count}, non-200: ${bad}, curl failures: ${failures}"
awk '{ printf "%.3f\n", $2 * 1000 }' "$times_file" | sort -n | awk '
    { t[NR] = $1 }
    END {
        p99 = int(NR * 0.99); if (p99 < 1) p99 = 1
        printf "per request (curl time_total): p50 %.2f ms, p99 %.2f ms, max %.2f ms\n", t[int(NR * 0.5) + 1], t[p99], t[NR]
    }'
echo "wall time for ${count} sequential curl processes: ${wall_ms} ms ($(( count * 1000 / (wall_ms > 0 ? wall_ms : 1) )) posts/s incl. process start)"
