#!/usr/bin/env bash
# Builds the Debian packages from a build folder with CPack, checks them with
# dpkg-deb and lintian (no errors), unpacks them into a throwaway root and runs
# every installed program's --version and --help from there, and Romwright's
# settings as an ordinary user (the user "nobody" when run as root).
# Usage: check_packages.sh BUILD_DIR [OUT_DIR]
# Exits 77 (skipped) when dpkg-deb, lintian or help2man is missing.
set -uo pipefail
build=$1
out=${2:-}
for tool in dpkg-deb lintian help2man cpack; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (scripts/setup installs it)"
    exit 77
  fi
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# What the packaging tools leave in the temporary folder goes with this one.
export TMPDIR=$work
[ -n "$out" ] || out=$work/debs
mkdir -p "$out"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! (cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$out" >cpack.log 2>&1); then
  cat "$work/cpack.log"
  echo "FAIL: cpack"
  exit 1
fi
debs=("$out"/*.deb)
[ "${#debs[@]}" -eq 2 ] || fail "cpack made ${#debs[@]} packages: ${debs[*]}"

for deb in "${debs[@]}"; do
  name=$(dpkg-deb --field "$deb" Package)
  dpkg-deb --info "$deb" >/dev/null || fail "$name: dpkg-deb cannot read it"
  dpkg-deb --contents "$deb" >"$work/$name.list" || fail "$name: no contents"
  echo "== lintian $name"
  # Errors fail the check; warnings are shown.
  lintian --tag-display-limit 0 --fail-on error "$deb" | tee "$work/$name.lintian"
  [ "${PIPESTATUS[0]}" -eq 0 ] || fail "$name: lintian reports errors"
  dpkg-deb -x "$deb" "$work/root" || fail "$name: cannot unpack"
done

root=$work/root
# The station for operators who are not root: the postinst makes the group,
# gives the programs to it with their capabilities and makes the mount folder;
# the package brings what it runs.
ltdeb=$(for deb in "${debs[@]}"; do [ "$(dpkg-deb --field "$deb" Package)" = linetool ] && echo "$deb"; done)
if [ -n "$ltdeb" ]; then
  dpkg-deb -e "$ltdeb" "$work/control"
  if [ -x "$work/control/postinst" ]; then
    sh -n "$work/control/postinst" || fail "linetool's postinst is no valid shell script"
    for step in "addgroup --quiet --system linetool" "chown root:linetool" "chmod 0750" \
      "setcap cap_sys_rawio,cap_sys_admin+ep" "systemd-tmpfiles --create /usr/lib/tmpfiles.d/linetool.conf"; do
      grep -qF "$step" "$work/control/postinst" || fail "linetool's postinst does not run: $step"
    done
  else
    fail "linetool has no executable postinst"
  fi
  depends=$(dpkg-deb --field "$ltdeb" Depends)
  for dep in adduser libcap2-bin fdisk ntfs-3g; do
    grep -qE "(^|, )$dep( |,|$)" <<<"$depends" || fail "linetool does not depend on $dep: $depends"
  done
fi
# The programmer's window draws Chinese and takes Qt's own texts (the buttons
# of its message boxes) in the language it shows.
rwdeb=$(for deb in "${debs[@]}"; do [ "$(dpkg-deb --field "$deb" Package)" = romwright ] && echo "$deb"; done)
if [ -n "$rwdeb" ]; then
  depends=$(dpkg-deb --field "$rwdeb" Depends)
  for dep in fonts-wqy-microhei qt6-translations-l10n; do
    grep -qE "(^|, )$dep( |,|$)" <<<"$depends" || fail "romwright does not depend on $dep: $depends"
  done
fi
expect_file() { [ -e "$root/$1" ] || fail "no $1 in the packages"; }
for f in usr/bin/linetool usr/bin/linetool-cli usr/bin/romwright usr/bin/romwright-cli \
  usr/lib/romwright/chips.db usr/lib/romwright/config.ini usr/lib/udev/rules.d/60-romwright-programmer.rules \
  usr/lib/udev/rules.d/90-linetool-bridges.rules usr/lib/tmpfiles.d/linetool.conf \
  usr/share/applications/linetool.desktop usr/share/applications/romwright.desktop \
  usr/share/icons/hicolor/scalable/apps/linetool.svg usr/share/icons/hicolor/scalable/apps/romwright.svg \
  usr/share/metainfo/linetool.metainfo.xml usr/share/metainfo/romwright.metainfo.xml \
  "usr/share/doc/linetool/examples/kl_line_Tool v0.3.ini" usr/share/doc/linetool/README.capabilities; do
  expect_file "$f"
done
for p in linetool linetool-cli romwright romwright-cli; do
  expect_file "usr/share/man/man1/$p.1.gz"
  "$root/usr/bin/$p" --version >"$work/out" 2>"$work/err" || fail "$p --version: exit $?: $(cat "$work/err")"
  grep -qE "^$p [0-9]+\.[0-9]+\.[0-9]+$" "$work/out" || fail "$p --version prints: $(cat "$work/out")"
  "$root/usr/bin/$p" --help >"$work/out" 2>"$work/err" || fail "$p --help: exit $?: $(cat "$work/err")"
  grep -q "^Usage: $p" "$work/out" || fail "$p --help prints no usage: $(head -3 "$work/out")"
done
# The installed romwright-cli finds the chip database beside itself.
"$root/usr/bin/romwright-cli" chips W25Q80 >"$work/out" 2>"$work/err" || fail "installed romwright-cli chips: $(cat "$work/err")"
grep -q '^W25Q80 ' "$work/out" || fail "installed romwright-cli does not find its chip database: $(cat "$work/out")"
# An ordinary user's settings: the installed programs cannot write beside
# themselves, so the user's language and chip go to the user's own folder,
# made at the first change, over the shipped file, which stays as it was.
user_home=$work/user-home
mkdir -p "$user_home"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  chown nobody:nogroup "$user_home"
  chmod o+x "$work"
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
fi
shipped=$root/usr/lib/romwright
cp "$shipped/config.ini" "$work/shipped-config.ini"
chmod a-w "$shipped"
rw_settings() { env -u XDG_CONFIG_HOME HOME="$user_home" "$@" "${as_user[@]}" "$root/usr/bin/romwright-cli" settings "${rw_args[@]}"; }
rw_args=()
rw_settings >"$work/out" 2>"$work/err" || fail "installed romwright-cli settings: $(cat "$work/err")"
user_file=$user_home/.config/romwright/config.ini
grep -qxF "Settings: $user_file" "$work/out" || fail "installed settings are not the user's: $(cat "$work/out")"
grep -qxF "Defaults: $shipped/config.ini" "$work/out" || fail "installed settings without the shipped defaults: $(cat "$work/out")"
grep -qx 'DefaultLanguage=English' "$work/out" || fail "the shipped language is not the default: $(cat "$work/out")"
[ -e "$user_file" ] && fail "the user's settings file was made before any change"
rw_args=(--language SimpleChinese --default-chip W25Q80)
rw_settings >"$work/out" 2>"$work/err" || fail "installed romwright-cli cannot save the user's settings: $(cat "$work/err")"
rw_args=()
rw_settings >"$work/out" 2>"$work/err"
grep -qx 'DefaultLanguage=SimpleChinese' "$work/out" || fail "the user's language is lost: $(cat "$work/out")"
grep -qx 'DefaultChipName=W25Q80' "$work/out" || fail "the user's chip is lost: $(cat "$work/out")"
[ -f "$user_file" ] || fail "no $user_file"
[ "$(id -u)" -ne 0 ] || [ "$(stat -c %U "$user_file")" = nobody ] || fail "the user's settings belong to $(stat -c %U "$user_file")"
cmp -s "$shipped/config.ini" "$work/shipped-config.ini" || fail "the shipped config.ini was changed"
rw_settings XDG_CONFIG_HOME="$user_home/xdg" >"$work/out" 2>"$work/err"
grep -qxF "Settings: $user_home/xdg/romwright/config.ini" "$work/out" || fail "XDG_CONFIG_HOME is not taken: $(cat "$work/out")"
chmod u+w "$shipped"

# The shipped udev rules and tmpfiles.d entry as systemd reads them.
grep -q 'ENV{UDISKS_IGNORE}="1"' "$root/usr/lib/udev/rules.d/90-linetool-bridges.rules" ||
  fail "the bridges' rule does not hide them from udisks2"
grep -qx 'd /run/linetool/drives 0770 root linetool -' "$root/usr/lib/tmpfiles.d/linetool.conf" ||
  fail "the tmpfiles.d entry makes no /run/linetool/drives for the group"
if command -v desktop-file-validate >/dev/null; then
  for d in "$root"/usr/share/applications/*.desktop; do
    desktop-file-validate "$d" || fail "$(basename "$d") is not a valid desktop entry"
  done
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "packages: all checks passed (${debs[*]##*/})"
