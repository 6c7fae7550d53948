#!/usr/bin/env bash
# Builds the product, packs it (stripped) as a Debian package and checks it
# with lintian: any lintian error fails.
# Usage: scripts/package.sh [--install-check]
#   -> build-release/vk61-efis-config_<version>_<arch>.deb
#   --install-check  also installs the package in a fresh Debian 12 chroot
#                    (debootstrap, as root) and checks what it put in place.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-release

bash scripts/setup.sh dpkg-dev file lintian binutils
# Debian's hardening flags (fortified functions, stack protector, full RELRO).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVK61_BUILD_TESTS=OFF -DVK61_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
ninja -C "$build" vk61-efis-config vk61-efis-cli vk61_packaging_files
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/vk61-efis-config_*.deb)
echo "Package: $deb"

# Errors fail the build; the warnings that remain are listed in the README.
lintian --fail-on error --tag-display-limit 0 "$deb"

if [ "${1:-}" = "--install-check" ]; then
  bash scripts/setup.sh debootstrap
  root=$(mktemp -d /tmp/vk61-chroot.XXXXXX)
  trap 'umount "$root/proc" 2>/dev/null || true; rm -rf "$root"' EXIT
  debootstrap --variant=minbase bookworm "$root" http://deb.debian.org/debian >/dev/null
  mount -t proc proc "$root/proc"
  cp "$deb" "$root/tmp/"
  chroot "$root" sh -c "apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /tmp/$(basename "$deb") >/dev/null"
  for f in /usr/bin/vk61-efis-config /usr/bin/vk61-efis-cli /usr/share/applications/vk61-efis-config.desktop \
           /lib/udev/rules.d/70-vk61-bridge.rules /usr/share/man/man1/vk61-efis-config.1.gz \
           /usr/share/man/man1/vk61-efis-cli.1.gz /usr/share/bash-completion/completions/vk61-efis-cli \
           /usr/share/metainfo/vk61-efis-config.metainfo.xml \
           /usr/share/doc/vk61-efis-config/copyright; do
    test -e "$root$f" || { echo "missing after install: $f" >&2; exit 1; }
  done
  chroot "$root" env QT_QPA_PLATFORM=offscreen vk61-efis-config --version
  chroot "$root" vk61-efis-cli --version
  echo "Installed and checked in a clean Debian 12 chroot."
fi
