#!/usr/bin/env bash
# Installs the build into a DESTDIR and runs the installed command-line program from a read-only
# program folder, where the list must go to the data folder named by XDG_DATA_HOME; validates the
# installed desktop entry, icon, manual pages and AppStream metainfo, and builds the Debian
# package, which lintian checks (when installed) for the build that is shipped, not the sanitized.
#
#     install_test.sh BUILD-DIR
set -euo pipefail
build=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

DESTDIR="$work/root" cmake --install "$build" --prefix /usr >/dev/null
root="$work/root/usr"
bin="$root/bin"
[ -x "$bin/podcast-downloader-cli" ] || fail "the command-line program is not installed"
[ -f "$root/share/doc/podcast-downloader/README.md" ] || fail "the README is not installed"
for page in podcast-downloader podcast-downloader-cli; do
  manual="$root/share/man/man1/$page.1.gz"
  [ -f "$manual" ] || fail "the manual page of $page is not installed"
  if command -v groff >/dev/null; then
    warnings=$(zcat "$manual" | LC_ALL=C.UTF-8 groff -man -ww -z -Tutf8 2>&1) ||
      fail "the manual page of $page does not format: $warnings"
    [ -z "$warnings" ] || fail "the manual page of $page: $warnings"
  fi
done
metainfo="$root/share/metainfo/org.toveka.PodcastDownloader.metainfo.xml"
[ -f "$metainfo" ] || fail "the AppStream metainfo is not installed"
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$metainfo" >"$work/appstream.log" 2>&1 ||
    fail "the AppStream metainfo is not valid: $(cat "$work/appstream.log")"
fi
if [ -x "$build/app/gui/podcast-downloader" ]; then
  [ -x "$bin/podcast-downloader" ] || fail "the window program is not installed"
  desktop-file-validate "$root/share/applications/podcast-downloader.desktop" ||
    fail "the desktop entry is not valid"
  file "$root/share/icons/hicolor/256x256/apps/podcast-downloader.png" |
    grep -q "PNG image data, 256 x 256" || fail "the icon is not a 256 x 256 PNG"
fi

# The program folder is made read-only for the run: a read-only bind mount in a namespace of our
# own (chmod would not stop root), or plain permissions for another user.
data="$work/data"
run_installed() {
  local command=("env" "-i" "PATH=/usr/bin:/bin" "HOME=$work/home" "XDG_DATA_HOME=$data" "LANG=C"
                 "$bin/podcast-downloader-cli" "$@")
  if unshare -rm true 2>/dev/null; then
    unshare -rm sh -c 'mount --bind "$1" "$1" && mount -o remount,bind,ro "$1" && shift && exec "$@"' \
      sh "$bin" "${command[@]}"
  elif [ "$(id -u)" -ne 0 ]; then
    chmod a-w "$bin"
    "${command[@]}"
  else
    echo "cannot make the program folder read-only here" >&2
    exit 77
  fi
}
run_installed add "http://example.org/feed.xml" || fail "add failed"
list="$data/podcast-downloader/liste.pdl"
[ -f "$list" ] || fail "the list is not in the data folder"
[ ! -e "$bin/liste.pdl" ] || fail "the list was written beside the program"
expected=$(printf '1\r\nhttp://example.org/feed.xml\r\n%s' "$data/podcast-downloader/Download/")
[ "$(cat "$list")" = "$expected" ] || fail "the list holds: $(od -c "$list")"
[ "$(run_installed list | head -n 1)" = "1  http://example.org/feed.xml" ] ||
  fail "list does not show the feed"

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
  fail "cpack: $(cat "$work/cpack.log")"
deb=$(ls "$work"/package/*.deb)
dpkg-deb -c "$deb" >"$work/contents.txt"
for packaged in /bin/podcast-downloader-cli /man1/podcast-downloader-cli.1.gz \
                /metainfo/org.toveka.PodcastDownloader.metainfo.xml; do
  grep -q "$packaged\$" "$work/contents.txt" || fail "the package lacks $packaged"
done
# Debian's packages live under /usr; one for /usr/local is for trying out only.
checked="not checked by lintian"
if command -v lintian >/dev/null && ! grep -q '^PD_SANITIZE:BOOL=ON' "$build/CMakeCache.txt" &&
   grep -q '^CMAKE_INSTALL_PREFIX:PATH=/usr$' "$build/CMakeCache.txt"; then
  lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 ||
    fail "lintian finds errors: $(cat "$work/lintian.log")"
  checked="without lintian errors"
fi
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libcurl4; do
  grep -q "$library" <<<"$depends" || fail "the package does not depend on $library: $depends"
done
echo "installed, ran from a read-only folder, package $(basename "$deb") $checked, depends on: $depends"
