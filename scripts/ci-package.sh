#!/usr/bin/env bash
# CI, as root on a Debian 12 machine: builds the package, checks it, installs it with apt,
# starts the installed program once as an ordinary user under Xvfb, then removes the package
# and checks that the user's data stayed.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive
started=$SECONDS
[ "$(id -u)" -eq 0 ] || { echo "ci-package.sh installs a package: run it as root"; exit 1; }

step() { printf '\n== %s (%ds)\n' "$*" $((SECONDS - started)); }
fail() { echo "FAILED: $*"; exit 1; }

step "build the package"
./scripts/package.sh
deb=$(ls build/quillet_*.deb)
version=$(dpkg-deb -f "$deb" Version)

step "check the package and its desktop files"
apt-get update -qq # the package's dependencies come from the archive
missing=()
for p in lintian appstream desktop-file-utils; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
((${#missing[@]} == 0)) || apt-get install -y -qq "${missing[@]}" >/dev/null
lintian --fail-on error "$deb"
desktop-file-validate packaging/quillet.desktop
appstreamcli validate --no-net packaging/*.metainfo.xml
if dpkg-deb -c "$deb" | grep -Ei 'test|bench'; then fail "tests or benchmarks in the package"; fi
grep -q "<release version=\"$version\"" packaging/*.metainfo.xml || fail "no release $version in the metainfo"
grep -q "^\.TH QUILLET 1 .*\"Quillet $version\"" packaging/quillet.1 || fail "manual page is not for $version"

step "install it with apt"
dpkg -r quillet >/dev/null 2>&1 || true
apt-get install -y -qq "./$deb" >/dev/null
[ "$(command -v quillet)" = /usr/bin/quillet ] || fail "quillet is not /usr/bin/quillet"
[ "$(/usr/bin/quillet --version)" = "quillet $version" ] || fail "quillet --version"
for f in /usr/share/applications/quillet.desktop /usr/share/icons/hicolor/scalable/apps/quillet.svg \
  /usr/share/icons/hicolor/48x48/apps/quillet.png /usr/share/man/man1/quillet.1.gz; do
  [ -f "$f" ] || fail "$f is not installed"
done

step "first start as an ordinary user"
user=quillet-ci
id "$user" >/dev/null 2>&1 || useradd --create-home --shell /bin/bash "$user"
home=$(getent passwd "$user" | cut -d: -f6)
data="$home/.local/share/Quillet"
rm -rf "$data"
work=$(mktemp -d)
chmod 755 "$work"
install -d -m 700 -o "$user" "$work/run"
boxes="$work/out/boxes"
install -d -m 777 "$work/out"
# Inside the display: start the program, wait for its main window, note the window's class
# (the desktop entry's StartupWMClass must match it) and take a picture of the screen.
cat >"$work/session.sh" <<'SESSION'
/usr/bin/quillet & program=$!
window=$(timeout 30 xdotool search --sync --limit 1 --name 'Quillet-Morvane') || exit 1
xprop -id "$window" WM_CLASS >"$1/wmclass"
sleep 1
xdotool search --onlyvisible --name '^(提示|确认|错误)$' >"$1/boxes" || true
import -window root "$1/first-start.png"
wait "$program"
SESSION
# The program shows no message box on a first start (the installed program shows real boxes:
# the session looks for their windows).
setsid runuser -u "$user" -- env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 \
  XDG_RUNTIME_DIR="$work/run" \
  xvfb-run -a -s "-screen 0 1024x768x24" sh "$work/session.sh" "$work/out" >"$work/log" 2>&1 &
session=$!
stop() { kill -- "-$session" 2>/dev/null || true; wait "$session" 2>/dev/null || true; }
trap stop EXIT
for _ in $(seq 150); do
  [ -f "$work/out/first-start.png" ] && break
  kill -0 "$session" 2>/dev/null || break
  sleep 0.2
done
[ -f "$work/out/first-start.png" ] || { cat "$work/log"; fail "the main window did not appear"; }
[ -f "$data/bookkeep.dat" ] || { cat "$work/log"; fail "no data file in $data"; }
[ "$(stat -c %U "$data/bookkeep.dat")" = "$user" ] || fail "the data file is not the user's"
[ ! -s "$boxes" ] || { cat "$boxes"; fail "the first start showed a message box"; }
grep -q '"quillet"' "$work/out/wmclass" || { cat "$work/out/wmclass"; fail "window class"; }
cp "$work/out/first-start.png" build/first-start.png
echo "main window: $(cat "$work/out/wmclass")"
stop
trap - EXIT
# The end of the session (SIGTERM) lets the program finish writing before it exits; the data
# file is summed once it has.
for _ in $(seq 100); do
  pgrep -u "$user" -x quillet >/dev/null || break
  sleep 0.1
done
! pgrep -u "$user" -x quillet >/dev/null || fail "the program did not end with the session"
echo "program output:"; sed 's/^/  /' "$work/log"
sum=$(sha256sum "$data/bookkeep.dat")

step "remove the package; the user's data stay"
apt-get remove -y -qq quillet >/dev/null
[ ! -e /usr/bin/quillet ] || fail "/usr/bin/quillet is still there"
dpkg --purge quillet >/dev/null 2>&1 # nothing is left to purge; must not fail either
[ "$(sha256sum "$data/bookkeep.dat")" = "$sum" ] || fail "removing the package changed the user's data"
rm -rf "$work"

step "done: $deb ($(stat -c %s "$deb") bytes)"
