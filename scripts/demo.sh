#!/bin/sh
# Builds everything, then runs gt3_gahp_launcher against the demo GT3
# installation the build generates (<build>/demo/gt3, a stand-in GAHP server
# in 59 real jars) and feeds the server a few protocol lines ending in QUIT.
# The output shows the server's start-up report (its JVM option, working
# directory and class path, from its standard error) followed by its protocol
# answers (its standard output).
# BUILD_DIR chooses the build directory (default: build in the source tree).
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2

config="$build/demo/torvel_config"
if [ ! -f "$config" ]; then
    echo "demo: $config was not generated (is a JDK installed?)" >&2
    exit 1
fi

echo "== demo configuration ($config)"
grep -v '^#' "$config"
echo "== running $build/launcher/gt3_gahp_launcher"
echo "== sending: VERSION, COMMANDS, HELLO, QUIT"
status=0
printf 'VERSION\nCOMMANDS\nHELLO\nQUIT\n' |
    TORVEL_CONFIG="$config" "$build/launcher/gt3_gahp_launcher" 2>&1 || status=$?
echo "== launcher (now the JVM) exited with status $status"
exit "$status"
