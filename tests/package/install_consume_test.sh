#!/usr/bin/env bash
# Usage: install_consume_test.sh BUILD_DIR SOURCE_DIR VERSION
#
# The Debian packages as an administrator and a developer meet them. cpack
# makes the four packages from a finished build; lintian --pedantic finds no
# error or warning in any; dpkg -i installs them; the installed files are
# checked (file list, every header compiles alone, nothing points into the
# source or build tree, versions agree); the consumer example, copied out
# of the source tree, builds against /usr with find_package(Torvel) (both
# targets and a shared object on the position-independent archive) and
# with pkg-config, also under _FORTIFY_SOURCE=2, and each program prints
# its debug line; the broker's account exists; remove keeps the broker's
# conffiles, purge leaves nothing behind. A private prefix is checked too:
# the CMake package and torvel.pc find their files relative to themselves.
#
# Needs root (dpkg). Packages of these names already installed are not
# touched: the test stops.
set -euo pipefail

build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
version=$3
packages=(libtorvel-dev torvel-tools nbx-broker python3-torvel)

work=$(mktemp -d /tmp/torvel_package_test.XXXXXX)
failures=0
installed_by_us=0
account_existed=1
getent passwd torvel >/dev/null || account_existed=0

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

# Whatever happens, the packages go and the account the test made with them.
cleanup() {
  if [ "$installed_by_us" -eq 1 ]; then
    dpkg --purge "${packages[@]}" >/dev/null 2>&1 || true
  fi
  # userdel fails while another process holds the account files' lock.
  local attempt
  for attempt in 1 2 3 4 5; do
    [ "$account_existed" -eq 0 ] && getent passwd torvel >/dev/null || break
    userdel torvel >/dev/null 2>&1 || sleep 1
  done
  if [ "$account_existed" -eq 0 ] && getent group torvel >/dev/null; then
    groupdel torvel >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

[ "$(id -u)" -eq 0 ] || { echo "FAIL: dpkg needs root" >&2; exit 1; }
for package in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q installed; then
    echo "FAIL: $package is already installed here; the test would replace it" >&2
    exit 1
  fi
done

step "cpack makes the packages"
quiet cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb"
debs=()
for package in "${packages[@]}"; do
  deb=$work/deb/${package}_${version}-1_amd64.deb
  if [ -f "$deb" ]; then
    debs+=("$deb")
  elif [ "$package" != python3-torvel ] || ls "$build"/python/torvel/_torvel.cpython-*.so >/dev/null 2>&1; then
    fail "no $deb: $(ls "$work/deb")"
  fi
done
[ "$failures" -eq 0 ] || exit 1
ls -s --block-size=K "$work/deb"/*.deb | sed 's|/.*/||'

field() { dpkg-deb -f "$work/deb/${1}_${version}-1_amd64.deb" "$2"; }
depends_names() { field "$1" Depends | tr ',' '\n' | sed -E 's/^ *//; s/[ (].*//'; }
for library in libssl-dev libpcre3-dev pkg-config; do
  depends_names libtorvel-dev | grep -qxF "$library" || fail "libtorvel-dev does not depend on $library"
done
for library in libc6 libpcre3 libstdc++6; do
  depends_names torvel-tools | grep -qxF "$library" || fail "torvel-tools Depends lacks $library"
done
# libcrypto is linked in; the Java runtime only recommended.
field torvel-tools Depends | grep -qiE 'ssl|java|jre' && fail "torvel-tools depends on what it does not load"
field torvel-tools Recommends | grep -q java-runtime-headless || fail "torvel-tools does not recommend Java"
depends_names nbx-broker | grep -qxF adduser || fail "nbx-broker does not depend on adduser"
if [ -f "$work/deb/python3-torvel_${version}-1_amd64.deb" ]; then
  python=$(python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')
  field python3-torvel Depends | grep -qF "python3 (>= $python~)" ||
    fail "python3-torvel Depends: $(field python3-torvel Depends)"
fi
for package in "${packages[@]}"; do
  [ -f "$work/deb/${package}_${version}-1_amd64.deb" ] || continue
  case "$(field "$package" Description | head -1)" in
    "$package"*) fail "$package: the description starts with the package name" ;;
  esac
done

step "lintian --pedantic: no error, no warning"
lintian --pedantic --tag-display-limit 0 "${debs[@]}" >"$work/lintian" 2>&1 || true
grep -v 'running with root privileges' "$work/lintian" || true
if grep -E '^[EW]: ' "$work/lintian" >"$work/lintian_bad"; then
  fail "lintian: $(wc -l <"$work/lintian_bad") errors or warnings"
fi

step "dpkg -i"
# The directories the packages create, as far as they are not there now.
purged_paths=
for path in /etc/torvel /etc/logrotate.d/nbx_broker /usr/include/torvel \
    /usr/lib/x86_64-linux-gnu/cmake/Torvel /usr/lib/x86_64-linux-gnu/torvel /usr/libexec/torvel \
    /var/log/nbx_broker; do
  [ -e "$path" ] || purged_paths="$purged_paths $path"
done
installed_by_us=1
quiet dpkg -i "${debs[@]}"

expected_files=(
  /usr/bin/torvel_config_val /usr/bin/classad_eval /usr/libexec/torvel/gt3_gahp_launcher
  /usr/lib/x86_64-linux-gnu/libtorvel.a /usr/lib/x86_64-linux-gnu/libtorvel_plain.a
  /usr/lib/x86_64-linux-gnu/libtorvel_pic.a
  /usr/include/torvel/config/param.h /usr/include/torvel/classad/expr_tree.h
  /usr/include/torvel/nbx/wrappers.h /usr/include/torvel/version/torvel_version.h
  /usr/lib/x86_64-linux-gnu/torvel/objects/bounded_printf.o
  /usr/lib/x86_64-linux-gnu/torvel/objects/arg_splitter.o
  /usr/lib/x86_64-linux-gnu/torvel/objects/dprintf_shim.o
  /usr/lib/x86_64-linux-gnu/torvel/objects/file_lock.o
  /usr/share/man/man1/torvel_config_val.1.gz /usr/share/man/man1/classad_eval.1.gz
  /usr/share/man/man8/gt3_gahp_launcher.8.gz /usr/share/man/man8/nbx_broker.8.gz
  /usr/share/man/man3/torvel.3.gz
  /usr/lib/x86_64-linux-gnu/cmake/Torvel/TorvelConfig.cmake
  /usr/lib/x86_64-linux-gnu/cmake/Torvel/TorvelConfigVersion.cmake
  /usr/lib/x86_64-linux-gnu/pkgconfig/torvel.pc
  /usr/sbin/nbx_broker /usr/lib/systemd/system/nbx_broker.service /usr/lib/sysusers.d/torvel.conf
  /etc/torvel/nbx_broker.conf /etc/logrotate.d/nbx_broker
)
for package in "${packages[@]}"; do
  expected_files+=("/usr/share/doc/$package/copyright" "/usr/share/doc/$package/changelog.Debian.gz")
done
for module in "$build"/python/torvel/_torvel.cpython-*.so; do
  [ -f "$module" ] || continue
  expected_files+=("/usr/lib/python3/dist-packages/torvel/$(basename "$module")"
    /usr/lib/python3/dist-packages/torvel/__init__.py /usr/lib/python3/dist-packages/torvel/py.typed)
done
for file in "${expected_files[@]}"; do
  [ -f "$file" ] || fail "not installed: $file"
done
# Each package's files, for the check after purge.
for package in "${packages[@]}"; do
  dpkg-query -L "$package" 2>/dev/null || true
done | sort -u >"$work/package_files"

# Every header of every subsystem folder, except those only the library's
# own sources use.
source_headers=$(cd "$source" && ls -1 {config,diagnostics,core,identity,files,process,net,nbx,classad,stream,crypto,version}/*.h |
  grep -v '_internal\.h$' | sort)
installed_headers=$(cd /usr/include/torvel && find . -type f | sed 's|^\./||' | sort)
[ "$source_headers" = "$installed_headers" ] ||
  fail "installed headers differ from the public source headers: $(diff <(echo "$source_headers") <(echo "$installed_headers") | head -5)"
if grep -rlF -e "$source" -e "$build" /usr/lib/x86_64-linux-gnu/cmake/Torvel \
    /usr/lib/x86_64-linux-gnu/pkgconfig/torvel.pc >"$work/leaks.txt"; then
  fail "package files point into the source or build tree: $(cat "$work/leaks.txt")"
fi

step "every installed header compiles alone"
: >"$work/all_headers.cpp"
for header in $installed_headers; do
  echo "#include <torvel/$header>" >>"$work/all_headers.cpp"
done
quiet g++ -std=c++17 -fsyntax-only -DOPENSSL_API_COMPAT=0x10100000L "$work/all_headers.cpp"

step "the plain target's forwarders cover the library's __real_ calls"
needed=$(nm -u /usr/lib/x86_64-linux-gnu/libtorvel.a 2>/dev/null | awk '$2 ~ /^__real_/ {print $2}' | sort -u)
provided=$(nm --defined-only /usr/lib/x86_64-linux-gnu/libtorvel_plain.a | awk '$3 ~ /^__real_/ {print $3}' | sort -u)
[ -n "$needed" ] || fail "libtorvel.a makes no __real_ call: the check below would be empty"
missing=$(comm -23 <(echo "$needed") <(echo "$provided"))
[ -z "$missing" ] || fail "libtorvel_plain.a lacks $(echo $missing)"

step "version $version agrees with the library and the package files"
# --version: "classad_eval (Torvel) VERSION", then the library's marker.
marker=$(classad_eval --version)
case "$marker" in
  "classad_eval (Torvel) $version"$'\n'"\$TorvelVersion: $version "*) ;;
  *) fail "project version $version but classad_eval says: $marker" ;;
esac
[ "$(pkg-config --modversion torvel)" = "$version" ] || fail "torvel.pc says $(pkg-config --modversion torvel)"
if [ -d /usr/lib/python3/dist-packages/torvel ]; then
  # The packaged module is the package pip installs: torvel with its
  # compiled part, and the distribution's version.
  answer=$(cd / && /usr/bin/python3 -c 'import importlib.metadata as m, torvel
print(torvel.__file__, m.version("torvel"), torvel.__version__)')
  [ "$answer" = "/usr/lib/python3/dist-packages/torvel/__init__.py $version $version" ] ||
    fail "the packaged Python module says: $answer"
fi
# Consumers keep their own hardening: nothing of the package turns it off.
pkg-config --cflags torvel | grep -qE -- "-[DU] ?_FORTIFY_SOURCE" && fail "torvel.pc sets fortification: $(pkg-config --cflags torvel)"
grep -qE -- "-[DU] ?_FORTIFY_SOURCE" /usr/lib/x86_64-linux-gnu/cmake/Torvel/TorvelConfig.cmake && fail "TorvelConfig.cmake sets fortification"

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
expected_line='consumer: MY.Memory * 2 >= 128 && Disk == 640 is INTEGER 1'

step "the consumer example with find_package(Torvel), fortified"
cp -R "$source/examples/consumer" "$work/consumer"
rm -rf "$work/consumer/build"
# Debian's own hardening flags, as a package build of the consumer has them.
quiet cmake -S "$work/consumer" -B "$work/cmake-build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS="-O2 -D_FORTIFY_SOURCE=2 -fstack-protector-strong"
quiet cmake --build "$work/cmake-build" -j2
for program in consumer consumer_plain; do
  check_consumer "$expected_line" "$work/cmake-build/$program"
  # _torvel_ overrides from the environment reach param too.
  check_consumer 'consumer: Disk + 1 is INTEGER 641' \
    _torvel_CONSUMER.CONSUMER_EXPR='Disk + 1' "$work/cmake-build/$program"
  # Fortified, its dprintf call became __dprintf_chk: the library's.
  nm "$work/cmake-build/$program" >"$work/$program.sym"
  grep -qE '^[0-9a-f]+ T __dprintf_chk$' "$work/$program.sym" ||
    fail "$program does not take __dprintf_chk from the library"
done
run_consumer _torvel_CONSUMER.CONSUMER_EXPR='1 +' "$work/cmake-build/consumer" \
  >/dev/null 2>"$work/err" && fail "an expression that does not parse was accepted"
grep -q '^ERROR: CONSUMER_EXPR does not parse' "$work/err" || fail "no parse error: $(cat "$work/err")"

# Torvel::torvel links the archive whole and exports it; the plain target
# links only what it uses and exports nothing.
# (Symbol lists go through files: grep -q would end a pipe early.)
nm -D --defined-only "$work/cmake-build/consumer" >"$work/consumer.dynsym"
nm -D --defined-only "$work/cmake-build/consumer_plain" >"$work/consumer_plain.dynsym"
grep -qw _Z5paramPKc "$work/consumer.dynsym" || fail "consumer does not export param"
grep -qw __wrap_socket "$work/consumer.dynsym" || fail "consumer does not carry the socket-call wrappers"
grep -qw __real_close "$work/consumer.sym" && fail "consumer carries the plain forwarders"
grep -qw _Z5paramPKc "$work/consumer_plain.dynsym" && fail "consumer_plain exports the library"

step "a shared object on the position-independent archive"
plugin=$work/cmake-build/libconsumer_plugin.so
[ -f "$plugin" ] || fail "no $plugin"
nm -D --defined-only "$plugin" >"$work/plugin.dynsym"
grep -qw consumer_plugin_eval "$work/plugin.dynsym" || fail "the plug-in does not export its function"
grep -qw _Z5paramPKc "$work/plugin.dynsym" && fail "the plug-in exports the library"
answer=$(python3 -c 'import ctypes, sys
lib = ctypes.CDLL(sys.argv[1])
print(lib.consumer_plugin_eval(b"Disk / 10 + 1"), lib.consumer_plugin_eval(b"1 +"))' "$plugin")
[ "$answer" = "65 -1" ] || fail "the plug-in answered '$answer', expected '65 -1'"

step "the consumer example with pkg-config, fortified"
quiet make -C "$work/consumer" consumer CXXFLAGS="-O2 -D_FORTIFY_SOURCE=2"
check_consumer "$expected_line" "$work/consumer/consumer"
nm -D --defined-only "$work/consumer/consumer" >"$work/pc_consumer.dynsym"
grep -qw _Z5paramPKc "$work/pc_consumer.dynsym" || fail "the pkg-config consumer does not export param"
grep -qw __wrap_socket "$work/pc_consumer.dynsym" || fail "the pkg-config consumer lacks the wrappers"

step "a private prefix: the package files are relocatable"
quiet cmake --install "$build" --prefix "$work/prefix" --component dev
relocated=$(PKG_CONFIG_PATH=$work/prefix/lib/x86_64-linux-gnu/pkgconfig pkg-config --cflags torvel)
case "$relocated" in
  *"-I$work/prefix/lib/x86_64-linux-gnu/pkgconfig/../../../include"*) ;;
  *) fail "torvel.pc under a private prefix says: $relocated" ;;
esac
# find_package(Torvel <requested>): any version up to this one is accepted.
major=${version%%.*}
minor=${version#*.}
minor=${minor%%.*}
for request in 1.0:TRUE "$major.$minor":TRUE "$version":TRUE "$major.$((minor + 1))":FALSE \
    "$((major + 1)).0":FALSE; do
  cat >"$work/version_request.cmake" <<SCRIPT
set(PACKAGE_FIND_VERSION ${request%%:*})
set(CMAKE_SIZEOF_VOID_P 8)
include("$work/prefix/lib/x86_64-linux-gnu/cmake/Torvel/TorvelConfigVersion.cmake")
message("\${PACKAGE_VERSION_COMPATIBLE}")
SCRIPT
  answer=$(cmake -P "$work/version_request.cmake" 2>&1)
  [ "$answer" = "${request#*:}" ] || fail "find_package(Torvel ${request%%:*}) compatible: $answer"
done

step "the broker's account, remove and purge"
getent passwd torvel >/dev/null || fail "installing nbx-broker made no torvel account"
conffiles=$(dpkg-query -W -f='${Conffiles}\n' nbx-broker | awk 'NF {print $1}' | sort)
[ "$conffiles" = $'/etc/logrotate.d/nbx_broker\n/etc/torvel/nbx_broker.conf' ] ||
  fail "nbx-broker conffiles: $conffiles"
quiet dpkg -r nbx-broker
[ -f /usr/sbin/nbx_broker ] && fail "removed, but /usr/sbin/nbx_broker is still there"
for file in $conffiles; do
  [ -f "$file" ] || fail "remove took the conffile $file"
done
getent passwd torvel >/dev/null || fail "remove took the torvel account"
quiet dpkg --purge "${packages[@]}"
installed_by_us=0
for package in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -qv 'not-installed'; then
    fail "$package is still known to dpkg: $(dpkg-query -W -f='${Status}' "$package")"
  fi
done
while read -r file; do
  [ -e "$file" ] && [ ! -d "$file" ] && fail "left after purge: $file"
done <"$work/package_files"
for path in $purged_paths; do
  [ -e "$path" ] && fail "left after purge: $path"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "all package checks passed"
