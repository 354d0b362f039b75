#!/bin/bash
# Shows nbx_broker at work: builds three network namespaces (a private
# network with an echo server, a public network with a client, and the
# broker's host joined to both without forwarding, so the two cannot reach
# each other), starts the broker, a brokered echo server and a brokered
# client, prints what each says, and removes everything again.
#
#   scripts/nbx_demo.sh [BUILD_DIR]     (default: build; needs root)
set -euo pipefail

BUILD=${1:-build}
BROKER=$BUILD/broker/nbx_broker
SERVER=$BUILD/tests/broker_echo_server
CLIENT=$BUILD/tests/broker_echo_client
for program in "$BROKER" "$SERVER" "$CLIENT"; do
  if [ ! -x "$program" ]; then
    echo "ERROR: $program is missing; build the project first" >&2
    exit 1
  fi
done
if [ "$(id -u)" != 0 ]; then
  echo "ERROR: the demo makes network namespaces and must run as root" >&2
  exit 1
fi

TAG=demo$$
WORK=$(mktemp -d /tmp/nbx_demo.XXXXXX)
PIDS=()

cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  for ns in s b c; do ip netns del "$TAG$ns" 2>/dev/null || true; done
  rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

step() { printf '\n== %s\n' "$*"; }

# Waits up to ten seconds for a line matching $2 in file $1.
wait_for() {
  for _ in $(seq 100); do
    if grep -q "$2" "$1" 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  echo "ERROR: nothing like '$2' in $1:" >&2
  cat "$1" >&2
  exit 1
}

step "network: private 10.1.0.0/24 (server) | broker | public 198.51.100.0/24 (client)"
for ns in s b c; do ip netns add "$TAG$ns"; ip -n "$TAG$ns" link set lo up; done
ip link add "${TAG}a0" type veth peer name "${TAG}a1"
ip link add "${TAG}c0" type veth peer name "${TAG}c1"
ip link set "${TAG}a0" netns "${TAG}s"; ip link set "${TAG}a1" netns "${TAG}b"
ip link set "${TAG}c0" netns "${TAG}c"; ip link set "${TAG}c1" netns "${TAG}b"
ip -n "${TAG}s" addr add 10.1.0.2/24 dev "${TAG}a0"
ip -n "${TAG}b" addr add 10.1.0.1/24 dev "${TAG}a1"
ip -n "${TAG}c" addr add 198.51.100.2/24 dev "${TAG}c0"
ip -n "${TAG}b" addr add 198.51.100.1/24 dev "${TAG}c1"
ip -n "${TAG}s" link set "${TAG}a0" up; ip -n "${TAG}c" link set "${TAG}c0" up
ip -n "${TAG}b" link set "${TAG}a1" up; ip -n "${TAG}b" link set "${TAG}c1" up
ip netns exec "${TAG}b" sysctl -qw net.ipv4.ip_forward=0
if ip netns exec "${TAG}c" ping -c1 -W1 10.1.0.2 >/dev/null 2>&1; then
  echo "ERROR: the client can reach the server directly" >&2
  exit 1
fi
echo "the client cannot reach 10.1.0.2 directly"

step "broker: public 198.51.100.1, private 10.1.0.1, private network 10.1.0.0/24"
TORVEL_CONFIG=ONLY_ENV _torvel_NBX_BROKER_PRIVATE_NETWORKS=10.1.0.0/24 \
  ip netns exec "${TAG}b" "$BROKER" --public 198.51.100.1 --private 10.1.0.1 \
  --foreground >"$WORK/broker.log" 2>&1 &
PIDS+=($!)
wait_for "$WORK/broker.log" "nbx_broker started"

step "server (private): NBX_ENABLE=true NBX_INAGENT=10.1.0.1"
for kind in tcp udp; do
  TORVEL_CONFIG=ONLY_ENV NBX_ENABLE=true NBX_INAGENT=10.1.0.1 \
    ip netns exec "${TAG}s" "$SERVER" $kind >"$WORK/$kind.out" 2>&1 &
  PIDS+=($!)
  wait_for "$WORK/$kind.out" "canonical"
done
TCP=$(awk '/canonical/ {print $2}' "$WORK/tcp.out")
UDP=$(awk '/canonical/ {print $2}' "$WORK/udp.out")
echo "TCP echo server registered as $TCP, UDP echo server as $UDP"

step "client (public): NBX_ENABLE=true NBX_ROUTE with '198.51.100.0/24 NBX'"
echo "198.51.100.0/24 NBX" >"$WORK/route"
TORVEL_CONFIG=ONLY_ENV NBX_ENABLE=true NBX_ROUTE="$WORK/route" \
  ip netns exec "${TAG}c" "$CLIENT" tcp "$TCP" 1048576
TORVEL_CONFIG=ONLY_ENV NBX_ENABLE=true NBX_ROUTE="$WORK/route" \
  ip netns exec "${TAG}c" "$CLIENT" udp "$UDP" 10

step "what the server saw"
cat "$WORK/tcp.out"
step "what the broker logged"
cat "$WORK/broker.log"
