#!/usr/bin/env bash
# Usage: install_consume_test.sh BUILD_DIR SOURCE_DIR VERSION
#
# Installs a finished build into a temporary prefix and checks it as a
# consumer would: the file list; every installed header compiles with only
# <prefix>/include on the include path; nothing installed points back into
# the source or build tree; the consumer example, copied out of the source
# tree, builds with find_package(Torvel) (both targets) and with pkg-config,
# and each program prints its debug line; the plain target's forwarders
# cover every __real_ call the library makes; VERSION agrees with the
# library's marker string. Then cpack makes the Debian package, whose name,
# control fields and file list are checked with dpkg-deb.
set -euo pipefail

build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
version=$3

work=$(mktemp -d /tmp/torvel_package_test.XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
failures=0

step() {
  echo "--- $1 (${SECONDS}s)"
}

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Runs a command quietly; on failure shows its output and stops the test.
quiet() {
  if ! "$@" >"$work/step.log" 2>&1; then
    cat "$work/step.log" >&2
    echo "FAIL: command failed: $*" >&2
    exit 1
  fi
}

step "install into $prefix"
quiet cmake --install "$build" --prefix "$prefix"

expected_files=(
  bin/torvel_config_val bin/classad_eval libexec/torvel/gt3_gahp_launcher
  lib/libtorvel.a lib/libtorvel_plain.a
  include/torvel/config/param.h include/torvel/classad/expr_tree.h
  include/torvel/nbx/wrappers.h include/torvel/version/torvel_version.h
  lib/torvel/objects/bounded_printf.o lib/torvel/objects/arg_splitter.o
  lib/torvel/objects/dprintf_shim.o lib/torvel/objects/file_lock.o
  share/man/man1/torvel_config_val.1 share/man/man1/classad_eval.1
  share/man/man8/gt3_gahp_launcher.8
  share/doc/torvel/README.md share/doc/torvel/NOTICE
  lib/cmake/Torvel/TorvelConfig.cmake lib/cmake/Torvel/TorvelConfigVersion.cmake
  lib/pkgconfig/torvel.pc
  sbin/nbx_broker lib/systemd/system/nbx_broker.service lib/sysusers.d/torvel.conf
)
# The Python module, when the build made one.
for module in "$build"/python/torvel.cpython-*.so; do
  [ -f "$module" ] || continue
  expected_files+=("lib/python3/dist-packages/$(basename "$module")"
                   lib/python3/dist-packages/torvel.pyi)
done
for file in "${expected_files[@]}"; do
  [ -f "$prefix/$file" ] || fail "not installed: $file"
done
for program in bin/torvel_config_val bin/classad_eval libexec/torvel/gt3_gahp_launcher; do
  [ -x "$prefix/$program" ] || fail "not executable: $program"
done
# Every header of every subsystem folder, and nothing else.
source_headers=$(cd "$source" && ls -1 {config,diagnostics,core,identity,files,process,net,nbx,classad,stream,crypto,version}/*.h | sort)
installed_headers=$(cd "$prefix/include/torvel" && find . -type f | sed 's|^\./||' | sort)
[ "$source_headers" = "$installed_headers" ] ||
  fail "installed headers differ from the source headers: $(diff <(echo "$source_headers") <(echo "$installed_headers") | head -5)"

if grep -rlE '#[[:space:]]*include[[:space:]]*"(config|diagnostics|core|identity|files|process|net|nbx|classad|stream|crypto|version)/' \
    "$prefix/include" >"$work/quoted.txt"; then
  fail "installed headers still include library headers by source path: $(head -3 "$work/quoted.txt")"
fi
if grep -rlF -e "$source" -e "$build" "$prefix/lib/cmake" "$prefix/lib/pkgconfig" >"$work/leaks.txt"; then
  fail "package files point into the source or build tree: $(cat "$work/leaks.txt")"
fi

step "every installed header compiles from the prefix alone"
: >"$work/all_headers.cpp"
for header in $installed_headers; do
  echo "#include <torvel/$header>" >>"$work/all_headers.cpp"
done
quiet g++ -std=c++17 -fsyntax-only -I"$prefix/include" -DOPENSSL_API_COMPAT=0x10100000L \
  "$work/all_headers.cpp"

step "the plain target's forwarders cover the library's __real_ calls"
needed=$(nm -u "$prefix/lib/libtorvel.a" 2>/dev/null | awk '$2 ~ /^__real_/ {print $2}' | sort -u)
provided=$(nm --defined-only "$prefix/lib/libtorvel_plain.a" | awk '$3 ~ /^__real_/ {print $3}' | sort -u)
[ -n "$needed" ] || fail "libtorvel.a makes no __real_ call: the check below would be empty"
missing=$(comm -23 <(echo "$needed") <(echo "$provided"))
[ -z "$missing" ] || fail "libtorvel_plain.a lacks $(echo $missing)"

step "version $version agrees with the library and the package files"
# --version: "classad_eval (Torvel) VERSION", then the library's marker.
marker=$("$prefix/bin/classad_eval" --version)
case "$marker" in
  "classad_eval (Torvel) $version"$'\n'"\$TorvelVersion: $version "*) ;;
  *) fail "project version $version but the library says: $marker" ;;
esac
pc_version=$(PKG_CONFIG_PATH=$prefix/lib/pkgconfig pkg-config --modversion torvel)
[ "$pc_version" = "$version" ] || fail "torvel.pc says $pc_version"

# find_package(Torvel <requested>): any version up to this one is accepted.
major=${version%%.*}
minor=${version#*.}
minor=${minor%%.*}
for request in 1.0:TRUE "$major.$minor":TRUE "$version":TRUE "$major.$((minor + 1))":FALSE \
    "$((major + 1)).0":FALSE; do
  cat >"$work/version_request.cmake" <<SCRIPT
set(PACKAGE_FIND_VERSION ${request%%:*})
set(CMAKE_SIZEOF_VOID_P 8)
include("$prefix/lib/cmake/Torvel/TorvelConfigVersion.cmake")
message("\${PACKAGE_VERSION_COMPATIBLE}")
SCRIPT
  answer=$(cmake -P "$work/version_request.cmake" 2>&1)
  [ "$answer" = "${request#*:}" ] || fail "find_package(Torvel ${request%%:*}) compatible: $answer"
done

# The consumer's configuration, and an environment with nothing of ours.
cat >"$work/torvel_config" <<'CONFIG'
CONSUMER_EXPR = Disk
CONSUMER.CONSUMER_EXPR = MY.Memory * 2 >= 128 && Disk == 640
CONFIG
run_consumer() {
  env -i PATH=/usr/bin:/bin TORVEL_CONFIG="$work/torvel_config" \
    TORVEL_IDS="$(id -u).$(id -g)" "$@"
}
# Runs program (with extra VAR=value words first) and compares its one
# debug line, header removed, with the expected text.
check_consumer() {
  local expected=$1
  shift
  local status=0
  run_consumer "$@" >"$work/out" 2>"$work/err" || status=$?
  [ "$status" -eq 0 ] || { fail "$* exited $status: $(cat "$work/err")"; return; }
  [ ! -s "$work/out" ] || fail "$* wrote to standard output: $(cat "$work/out")"
  [ "$(wc -l <"$work/err")" -eq 1 ] || fail "$* wrote $(wc -l <"$work/err") lines: $(cat "$work/err")"
  grep -qE '^[0-9]{1,2}/[0-9]{1,2} [0-9]{2}:[0-9]{2}:[0-9]{2} ' "$work/err" ||
    fail "$*: no debug-line header: $(cat "$work/err")"
  local line
  line=$(sed -E 's/^[0-9]+\/[0-9]+ [0-9:]+ //' "$work/err")
  [ "$line" = "$expected" ] || fail "$*: got '$line', expected '$expected'"
}

step "the consumer example with find_package(Torvel)"
cp -R "$source/examples/consumer" "$work/consumer"
rm -rf "$work/consumer/build"
quiet cmake -S "$work/consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Release
quiet cmake --build "$work/cmake-build" -j2
for program in consumer consumer_plain; do
  check_consumer 'consumer: MY.Memory * 2 >= 128 && Disk == 640 is INTEGER 1' \
    "$work/cmake-build/$program"
  # _torvel_ overrides from the environment reach param too.
  check_consumer 'consumer: Disk + 1 is INTEGER 641' \
    _torvel_CONSUMER.CONSUMER_EXPR='Disk + 1' "$work/cmake-build/$program"
done
run_consumer _torvel_CONSUMER.CONSUMER_EXPR='1 +' "$work/cmake-build/consumer" \
  >/dev/null 2>"$work/err" && fail "an expression that does not parse was accepted"
grep -q '^ERROR: CONSUMER_EXPR does not parse' "$work/err" || fail "no parse error: $(cat "$work/err")"

# Torvel::torvel links the archive whole and exports it; a whole archive
# only links when --wrap resolves the layer's __real_ calls, as the plain
# forwarders are not part of that target.
# (Symbol lists go through files: grep -q would end a pipe early.)
nm -D --defined-only "$work/cmake-build/consumer" >"$work/consumer.dynsym"
nm --defined-only "$work/cmake-build/consumer" >"$work/consumer.sym"
nm -D --defined-only "$work/cmake-build/consumer_plain" >"$work/consumer_plain.dynsym"
grep -qw _Z5paramPKc "$work/consumer.dynsym" || fail "consumer does not export param"
grep -qw __wrap_socket "$work/consumer.dynsym" || fail "consumer does not carry the socket-call wrappers"
grep -qw __real_close "$work/consumer.sym" && fail "consumer carries the plain forwarders"
grep -qw _Z5paramPKc "$work/consumer_plain.dynsym" && fail "consumer_plain exports the library"

step "the consumer example with pkg-config"
quiet env PKG_CONFIG_PATH="$prefix/lib/pkgconfig" make -C "$work/consumer" consumer
check_consumer 'consumer: MY.Memory * 2 >= 128 && Disk == 640 is INTEGER 1' "$work/consumer/consumer"
# torvel.pc links as Torvel::torvel does.
nm -D --defined-only "$work/consumer/consumer" >"$work/pc_consumer.dynsym"
grep -qw _Z5paramPKc "$work/pc_consumer.dynsym" || fail "the pkg-config consumer does not export param"
grep -qw __wrap_socket "$work/pc_consumer.dynsym" || fail "the pkg-config consumer lacks the wrappers"

step "the Debian package"
quiet cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb"
deb=$work/deb/torvel_${version}_amd64.deb
[ -f "$deb" ] || { fail "no $deb: $(ls "$work/deb")"; exit 1; }
[ "$(dpkg-deb -f "$deb" Package)" = torvel ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version $(dpkg-deb -f "$deb" Version)"
[ "$(dpkg-deb -f "$deb" Architecture)" = amd64 ] || fail "architecture"
depends=$(dpkg-deb -f "$deb" Depends)
recommends=$(dpkg-deb -f "$deb" Recommends)
depends_names=$(tr ',' '\n' <<<"$depends" | sed -E 's/^ *//; s/[ (].*//')
for library in libc6 libgcc-s1 libpcre3 libstdc++6; do
  grep -qxF "$library" <<<"$depends_names" || fail "Depends lacks $library: $depends"
done
# libcrypto is linked in, the Java runtime only recommended.
grep -qiE 'ssl|java|jdk|jre' <<<"$depends" && fail "Depends names what is not loaded: $depends"
grep -q 'java-runtime-headless' <<<"$recommends" || fail "Recommends lacks a Java runtime: $recommends"
dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|' | sort >"$work/deb_files"
for file in "${expected_files[@]}"; do
  grep -qx "/usr/$file" "$work/deb_files" || fail "not in the package: /usr/$file"
done
# Outside /usr only the broker's configuration and logrotate file, both
# conffiles.
broker_conffiles=$'/etc/logrotate.d/nbx_broker\n/etc/torvel/nbx_broker.conf'
grep -vE '^/usr(/|$)|^/etc/?$|^/etc/(torvel|logrotate\.d)/?$' "$work/deb_files" >"$work/outside" || true
[ "$(cat "$work/outside")" = "$broker_conffiles" ] || fail "files outside /usr: $(head -3 "$work/outside")"
dpkg-deb -e "$deb" "$work/control"
[ "$(cat "$work/control/conffiles")" = "$broker_conffiles" ] || fail "conffiles: $(cat "$work/control/conffiles")"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "all package checks passed"
