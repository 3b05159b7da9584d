#!/usr/bin/env bash
# The pipeline to an MQTT broker, on loopback: morvane-cli read --format json
# | mosquitto_pub -l, with a mosquitto broker started on a free port of
# 127.0.0.1 and mosquitto_sub collecting what arrives. Skips (77) when the
# broker cannot start here. Usage: check_mqtt.sh BUILD_DIR
set -uo pipefail
build=$1
cli=$build/cli/morvane-cli
sim=$build/sim/morvane-sim
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; cat "$work"/*.log 2>/dev/null; exit 1; }

command -v mosquitto >/dev/null || skip "mosquitto is not installed (scripts/install-deps.sh installs it)"
command -v mosquitto_pub >/dev/null || skip "mosquitto-clients is not installed"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\nlog_dest stderr\nlog_type all\n' "$port" > "$work/broker.conf"
mosquitto -c "$work/broker.conf" > "$work/broker.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do grep -q "Opening ipv4 listen socket on port $port" "$work/broker.log" && break; sleep 0.1; done
kill -0 "${pids[0]}" 2>/dev/null && grep -q "listen socket on port $port" "$work/broker.log" \
    || skip "mosquitto did not start on 127.0.0.1:$port: $(tail -1 "$work/broker.log")"

# Six messages: three modules, two rounds; at most 20 s.
mosquitto_sub -h 127.0.0.1 -p "$port" -t site/chamber -C 6 -W 20 > "$work/received" 2> "$work/sub.log" &
sub=$!
pids+=($sub)
for _ in $(seq 50); do grep -q "Received SUBSCRIBE" "$work/broker.log" && break; sleep 0.1; done
exec {sim_out}< <(exec "$sim" --exit-with-parent --address 1-3)
pids+=($!)
read -r -t 10 -u "$sim_out" tty || fail "morvane-sim printed no terminal"
timeout 20 "$cli" read --port "$tty" --address 1-3 --watch 0.2 --count 2 --format json \
    | timeout 20 mosquitto_pub -h 127.0.0.1 -p "$port" -t site/chamber -l 2> "$work/pub.log" \
    || fail "the pipeline failed"
wait "$sub" || fail "mosquitto_sub ended with $?"
python3 - "$work/received" <<'PY' || fail "what arrived: $(cat "$work/received")"
import json, sys
rows = [json.loads(line) for line in open(sys.argv[1])]
assert [r["address"] for r in rows] == [1, 2, 3, 1, 2, 3], rows
assert all(r["status"] == "ok" and isinstance(r["temperature"], float) for r in rows), rows
PY
echo "6 readings through mosquitto on 127.0.0.1:$port"
