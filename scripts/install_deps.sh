#!/bin/sh
# Installs the Debian packages the build and the tests need. Quick and silent
# when everything is already present; run as root (or through sudo).
set -eu

PACKAGES="cmake g++ make pkg-config git
libgtest-dev libgmock-dev googletest libbenchmark-dev
libssl-dev libpcre3-dev
mpich libmpich-dev lam4-dev lam-runtime
openjdk-17-jdk-headless
clang-14 libclang-rt-14-dev clang-format-14
pybind11-dev python3-dev python3-pytest
python3-venv python3-pip python3-setuptools python3-wheel mypy
util-linux passwd iproute2 strace systemd
lintian adduser"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -z "$missing" ]; then
    exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi

echo "installing:$missing"
export DEBIAN_FRONTEND=noninteractive
# Slim Debian images drop /usr/share/man; the JDK's post-install step fails
# without the directory for its manual-page alternatives.
$SUDO mkdir -p /usr/share/man/man1
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
