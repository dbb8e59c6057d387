#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop needs is there and valid.
# usage: install-test.sh BUILD_DIR POLKIT_ACTION
set -uo pipefail
build=$1 action=$2
prefix=$(mktemp -d "${TMPDIR:-/tmp}/orvale-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "FAIL: cmake --install"; exit 1; }

expected=(
  bin/orvale bin/orvale-cli
  share/applications/orvale.desktop
  share/icons/hicolor/scalable/apps/orvale.svg
  "share/polkit-1/actions/$action.policy"
  share/man/man1/orvale.1 share/man/man1/orvale-cli.1
)
for f in "${expected[@]}"; do [ -s "$prefix/$f" ] || fail "$f not installed"; done
for f in bin/orvale bin/orvale-cli; do [ -x "$prefix/$f" ] || fail "$f is not executable"; done

if command -v desktop-file-validate >/dev/null; then
  out=$(desktop-file-validate "$prefix/share/applications/orvale.desktop" 2>&1) || fail "desktop entry: $out"
  [ -z "$out" ] || fail "desktop entry hints: $out"
else
  echo "SKIPPED: desktop-file-validate is not installed (package desktop-file-utils, scripts/setup.sh)"
fi
grep -qx 'Exec=orvale' "$prefix/share/applications/orvale.desktop" || fail "desktop entry does not start orvale"
grep -qx 'Icon=orvale' "$prefix/share/applications/orvale.desktop" || fail "desktop entry has not the installed icon"

policy="$prefix/share/polkit-1/actions/$action.policy"
if command -v xmllint >/dev/null; then
  xmllint --noout "$policy" "$prefix/share/icons/hicolor/scalable/apps/orvale.svg" || fail "policy or icon is not well-formed XML"
else
  echo "SKIPPED: xmllint is not installed (package libxml2-utils)"
fi
grep -q "<action id=\"$action\">" "$policy" || fail "policy does not define $action"
grep -q "org.freedesktop.policykit.exec.path\">$prefix/bin/orvale<" "$policy" ||
  fail "policy exec.path is not the installed binary $prefix/bin/orvale"

for page in orvale orvale-cli; do
  warnings=$(groff -man -ww -z "$prefix/share/man/man1/$page.1" 2>&1) || fail "$page.1 does not render"
  [ -z "$warnings" ] || fail "$page.1: $warnings"
  grep -q '@ORVALE_VERSION@' "$prefix/share/man/man1/$page.1" && fail "$page.1 keeps an unset version"
done

version=$("$prefix/bin/orvale-cli" --version) || fail "orvale-cli --version fails"
[[ "$version" =~ ^orvale-cli\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "orvale-cli --version says '$version'"
version=$("$prefix/bin/orvale" --version 2>/dev/null) || fail "orvale --version fails"
[[ "$version" =~ ^orvale\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "orvale --version says '$version'"

# The package, packed from a staged /usr install (cpack's own run would first build everything):
# its dependencies must be packages Debian knows.
DESTDIR="$prefix/stage" cmake --install "$build" --prefix /usr >/dev/null || fail "staged install"
(cd "$build" && cpack -G DEB -B "$prefix/deb" -D CPACK_INSTALL_CMAKE_PROJECTS= \
   -D "CPACK_INSTALLED_DIRECTORIES=$prefix/stage;/" >/dev/null) || fail "cpack -G DEB"
deb=$(ls "$prefix"/deb/orvale_*.deb 2>/dev/null | head -1)
if [ -n "$deb" ]; then
  dpkg-deb -c "$deb" | grep -q "./usr/share/polkit-1/actions/$action.policy" || fail ".deb lacks the polkit action"
  dpkg-deb -x "$deb" "$prefix/unpacked"
  grep -q "exec.path\">/usr/bin/orvale<" "$prefix/unpacked/usr/share/polkit-1/actions/$action.policy" ||
    fail ".deb policy does not name /usr/bin/orvale"
  depends=$(dpkg-deb -f "$deb" Depends)
  [ -n "$depends" ] || fail ".deb has no dependencies"
  for dep in $(echo "$depends" | sed 's/([^)]*)//g; s/[,|]/ /g'); do
    apt-cache show "$dep" >/dev/null 2>&1 || fail ".deb depends on $dep, which Debian does not know"
  done
else
  fail "cpack made no .deb"
fi

[ "$failures" -eq 0 ] && echo "install layout ok"
exit $((failures > 0))
