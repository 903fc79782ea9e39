#!/usr/bin/env bash
# Builds the Debian packages tarn-desktop_<version>_amd64.deb and tarn-desktop-dbgsym_<version>_amd64.deb
# from the install rules, in a build made with Debian's hardening flags.
#   scripts/package.sh [--version V] [--out DIR] [--build-dir DIR]
# The version is the project's (CMakeLists.txt) unless --version gives another one.
set -euo pipefail
cd "$(dirname "$0")/.."
src="$PWD"

version=""
out="$src"
build="$src/build-package"
while [ $# -gt 0 ]; do
  case "$1" in
    --version) version="${2:?--version needs a value}"; shift 2 ;;
    --out) out="${2:?--out needs a folder}"; shift 2 ;;
    --build-dir) build="${2:?--build-dir needs a folder}"; shift 2 ;;
    *) echo "usage: $0 [--version V] [--out DIR] [--build-dir DIR]" >&2; exit 2 ;;
  esac
done
if [ -n "$version" ] && ! [[ "$version" =~ ^[0-9][A-Za-z0-9.+~]*$ ]]; then
  echo "package.sh: '$version' is not a Debian version without a revision" >&2
  exit 2
fi
mkdir -p "$out"
out="$(cd "$out" && pwd)"

# Reproducible: the build date is the last commit's, or the changelog's when there is no history.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH="$(git -C "$src" log -1 --format=%ct 2>/dev/null || date -d "Tue, 08 Dec 2026 12:00:00 +0000" +%s)"
fi
export SOURCE_DATE_EPOCH

# Debian's flags with every hardening feature: fortify, stack protector, full RELRO with bind now, PIE.
export DEB_BUILD_MAINT_OPTIONS="hardening=+all"
cppflags="$(dpkg-buildflags --get CPPFLAGS)"
cflags="$(dpkg-buildflags --get CFLAGS)"
cxxflags="$(dpkg-buildflags --get CXXFLAGS)"
ldflags="$(dpkg-buildflags --get LDFLAGS)"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
    -DTARN_BUILD_TESTS=OFF -DTARN_BUILD_BENCH=OFF -DTARN_WERROR=OFF \
    -DCMAKE_C_FLAGS="$cppflags $cflags" -DCMAKE_CXX_FLAGS="$cppflags $cxxflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" \
    -DCMAKE_MODULE_LINKER_FLAGS="$ldflags"
fi
cmake --build "$build" -j"$(nproc)"

work="$(mktemp -d "${TMPDIR:-/tmp}/tarn-package.XXXXXX")"
trap 'rm -rf "$work"' EXIT
umask 022
stage="$work/tarn-desktop"
dbg="$work/tarn-desktop-dbgsym"
DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null

ini="$stage/usr/lib/tarn-desktop/config/version.ini"
if [ -n "$version" ]; then
  sed -i "s/^ProductVersion=.*/ProductVersion=$version/" "$ini"
fi
version="$(sed -n 's/^ProductVersion=//p' "$ini")"
if [ -z "$version" ]; then
  echo "package.sh: no ProductVersion in $ini" >&2
  exit 1
fi

doc="$stage/usr/share/doc/tarn-desktop"
install -d "$doc" "$stage/usr/share/man/man1" "$stage/etc/xdg/autostart" "$stage/usr/share/lintian/overrides"
install -m 0644 packaging/copyright "$doc/copyright"
sed "s/@VERSION@/$version/" packaging/changelog.in | gzip -9n >"$doc/changelog.gz"
gzip -9n <packaging/tarn-desktop.1 >"$stage/usr/share/man/man1/tarn-desktop.1.gz"
install -m 0644 packaging/tarn-desktop-autostart.desktop "$stage/etc/xdg/autostart/tarn-desktop.desktop"
install -m 0644 packaging/lintian-overrides "$stage/usr/share/lintian/overrides/tarn-desktop"
chmod 0644 "$stage/usr/share/lintian/overrides/tarn-desktop" "$doc/changelog.gz" \
  "$stage/usr/share/man/man1/tarn-desktop.1.gz"

# Debug information moves to the -dbgsym package under its build id, where debuggers and the dump
# tool look for it; the shipped objects are stripped and point at it.
build_ids=()
while IFS= read -r -d '' file; do
  if [ "$(head -c 4 "$file" | od -An -c | tr -d ' ')" != '177ELF' ]; then
    continue
  fi
  id="$(readelf -n "$file" | sed -n 's/^ *Build ID: *//p')"
  if [ -z "$id" ]; then
    echo "package.sh: $file has no build id" >&2
    exit 1
  fi
  debug="$dbg/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug"
  install -d "$(dirname "$debug")"
  objcopy --only-keep-debug --compress-debug-sections "$file" "$debug"
  chmod 0644 "$debug"
  case "$file" in
    *.so) strip --strip-unneeded --remove-section=.comment --remove-section=.note "$file" ;;
    *) strip --remove-section=.comment --remove-section=.note "$file" ;;
  esac
  objcopy --add-gnu-debuglink="$debug" "$file"
  build_ids+=("$id")
done < <(find "$stage/usr/lib/tarn-desktop" -type f -print0 | sort -z)

# Dependencies from the libraries the objects link against. The service modules resolve the trace
# functions from the executable, which is not a library dpkg-shlibdeps could find.
mkdir -p "$work/src/debian"
printf 'Source: tarn-desktop\n\nPackage: tarn-desktop\nArchitecture: amd64\n' >"$work/src/debian/control"
mapfile -t objects < <(find "$stage/usr/lib/tarn-desktop" -maxdepth 1 -type f \( -perm -u+x -o -name '*.so' \) | sort)
(cd "$work/src" && dpkg-shlibdeps --warnings=1 -O "${objects[@]}" 2>/dev/null) >"$work/substvars"
depends="$(sed -n 's/^shlibs:Depends=//p' "$work/substvars")"
if [ -z "$depends" ]; then
  echo "package.sh: dpkg-shlibdeps found no dependencies" >&2
  exit 1
fi
# The dump tool opens libdw itself when it writes a backtrace, so dpkg-shlibdeps cannot see it.
libdw_version="$(dpkg-query -W -f='${Version}' libdw1 2>/dev/null | sed 's/-[^-]*$//')"
if [ -z "$libdw_version" ]; then
  echo "package.sh: libdw1 is not installed" >&2
  exit 1
fi
depends="$depends, libdw1 (>= $libdw_version)"

# The relay, the launcher and the process tools the maintainer scripts use are in essential packages
# (util-linux, coreutils, grep, mawk through base); the offscreen platform is part of libqt5gui5.
size="$(du -sk --apparent-size "$stage" | cut -f1)"
install -d -m 0755 "$stage/DEBIAN"
cat >"$stage/DEBIAN/control" <<CONTROL
Package: tarn-desktop
Version: $version
Architecture: amd64
Maintainer: Corvane <support@corvane.example>
Installed-Size: $size
Depends: $depends
Section: utils
Priority: optional
Homepage: https://corvane.example/connect
Description: desktop companion for Corvane USB devices
 Corvane Connect sets up and manages Corvane USB devices: device pages,
 software update, feedback, language and soft-phone settings. It runs in
 the system tray and can start at login.
CONTROL
echo /etc/xdg/autostart/tarn-desktop.desktop >"$stage/DEBIAN/conffiles"
for script in prerm preinst; do
  sed -e '/^#CLOSE_INSTANCES#$/{r packaging/close-instances.sh' -e 'd}' "packaging/$script.in" \
    >"$stage/DEBIAN/$script"
  chmod 0755 "$stage/DEBIAN/$script"
done
(cd "$stage" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z | xargs -0 md5sum) \
  >"$stage/DEBIAN/md5sums"
chmod 0644 "$stage/DEBIAN/control" "$stage/DEBIAN/conffiles" "$stage/DEBIAN/md5sums"

dbgsize="$(du -sk --apparent-size "$dbg" | cut -f1)"
install -d -m 0755 "$dbg/DEBIAN" "$dbg/usr/share/doc"
ln -s tarn-desktop "$dbg/usr/share/doc/tarn-desktop-dbgsym"
cat >"$dbg/DEBIAN/control" <<CONTROL
Package: tarn-desktop-dbgsym
Source: tarn-desktop
Version: $version
Auto-Built-Package: debug-symbols
Architecture: amd64
Maintainer: Corvane <support@corvane.example>
Installed-Size: $dbgsize
Depends: tarn-desktop (= $version)
Section: debug
Priority: optional
Description: debug symbols for tarn-desktop
Build-Ids: ${build_ids[*]}
CONTROL
(cd "$dbg" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z | xargs -0 md5sum) \
  >"$dbg/DEBIAN/md5sums"
chmod 0644 "$dbg/DEBIAN/control" "$dbg/DEBIAN/md5sums"

find "$stage" "$dbg" -type d -exec chmod 0755 {} +
find "$stage" "$dbg" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
dpkg-deb --root-owner-group -Zxz --build "$stage" "$out/tarn-desktop_${version}_amd64.deb" >/dev/null
dpkg-deb --root-owner-group -Zxz --build "$dbg" "$out/tarn-desktop-dbgsym_${version}_amd64.deb" >/dev/null
echo "$out/tarn-desktop_${version}_amd64.deb"
echo "$out/tarn-desktop-dbgsym_${version}_amd64.deb"
