#!/usr/bin/env bash
# Installs into a temporary prefix (with a space in its path), checks every file, validates the
# desktop entry and the AppStream metadata, starts the entry, then uninstalls and checks that the
# prefix is as it was.
set -euo pipefail
build=$1
source=$2
top=$(mktemp -d)
manifest_saved=""
restore() {
  [ -n "$manifest_saved" ] && mv -f "$manifest_saved" "$build/install_manifest.txt"
  rm -rf "$top"
}
trap restore EXIT
# Installing rewrites the build folder's install_manifest.txt; keep the user's.
if [ -f "$build/install_manifest.txt" ]; then
  manifest_saved="$top/manifest.keep"
  cp "$build/install_manifest.txt" "$manifest_saved"
fi
prefix="$top/pre fix"
mkdir -p "$prefix/bin" "$prefix/share/applications"
echo other > "$prefix/bin/other-tool"
echo other > "$prefix/share/applications/other.desktop"
before=$(cd "$prefix" && find . | sort)

fail() { echo "FAIL: $*" >&2; exit 1; }
cmake --install "$build" --prefix "$prefix" >/dev/null
id=cz.lomex.Lomex
for f in bin/lomex share/applications/$id.desktop share/icons/hicolor/scalable/apps/$id.svg \
         share/metainfo/$id.metainfo.xml share/doc/lomex/THIRD_PARTY_NOTICES; do
  [ -s "$prefix/$f" ] || fail "$f was not installed"
done
[ -x "$prefix/bin/lomex" ] || fail "bin/lomex is not executable"
readelf -S "$prefix/bin/lomex" | grep -q '\.debug_' && fail "bin/lomex carries debug sections"
cmp -s "$source/resources/icons/$id.svg" "$prefix/share/icons/hicolor/scalable/apps/$id.svg" || fail "icon differs"

entry="$prefix/share/applications/$id.desktop"
desktop-file-validate "$entry" || fail "desktop-file-validate"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" >/dev/null || fail "appstreamcli validate"
grep -qx 'Icon=cz.lomex.Lomex' "$entry" || fail "Icon"
grep -qx 'StartupWMClass=Lomex' "$entry" || fail "StartupWMClass"
grep -q '^Name\[cs\]\|^GenericName\[cs\]=' "$entry" || fail "Czech names"
grep -q '^Comment\[cs\]=' "$entry" || fail "Czech comment"
! grep -q '^NoDisplay' "$entry" || fail "NoDisplay"
grep -q '<summary xml:lang="cs">' "$prefix/share/metainfo/$id.metainfo.xml" || fail "Czech summary"
grep -q '@LOMEX_' "$prefix/share/metainfo/$id.metainfo.xml" "$entry" && fail "unfilled placeholder"

# The entry starts the installed program, whatever the prefix's path holds: a desktop-entry
# reader (GLib's) runs it; a stand-in records that it ran.
if command -v gio >/dev/null; then
  mv "$prefix/bin/lomex" "$top/lomex.real"
  printf '#!/bin/sh\necho "$0" > "%s/started"\n' "$top" > "$prefix/bin/lomex"
  chmod +x "$prefix/bin/lomex"
  gio launch "$entry"
  for _ in $(seq 50); do [ -f "$top/started" ] && break; sleep 0.1; done
  [ "$(cat "$top/started" 2>/dev/null)" = "$prefix/bin/lomex" ] || fail "the entry did not start $prefix/bin/lomex"
  mv -f "$top/lomex.real" "$prefix/bin/lomex"
fi

# Launch at login as the app writes it (the path quoted for its space): uninstalling the program
# takes its login entry along; an entry that starts another program stays. Once with the config
# folder given, once with the default under HOME.
for exec in '"/usr/local/bin/lomex"' "\"$prefix/bin/lomex\""; do
  [ -f "$prefix/bin/lomex" ] || cmake --install "$build" --prefix "$prefix" >/dev/null
  for config in "$top/config" "$top/home/.config"; do
    mkdir -p "$config/autostart"
    printf '[Desktop Entry]\nType=Application\nName=Lomex\nExec=%s\n' "$exec" > "$config/autostart/lomex.desktop"
  done
  XDG_CONFIG_HOME="$top/config" HOME="$top/home" \
    cmake -DMANIFEST="$build/install_manifest.txt" -DPREFIX="$prefix" -P "$source/cmake/Uninstall.cmake" >/dev/null
  (unset XDG_CONFIG_HOME; HOME="$top/home" cmake --install "$build" --prefix "$prefix" >/dev/null
   HOME="$top/home" cmake -DMANIFEST="$build/install_manifest.txt" -DPREFIX="$prefix" -P "$source/cmake/Uninstall.cmake" >/dev/null)
  for config in "$top/config" "$top/home/.config"; do
    if [ "$exec" = '"/usr/local/bin/lomex"' ]; then
      [ -f "$config/autostart/lomex.desktop" ] || fail "uninstall removed the login entry of another program ($config)"
    else
      [ ! -e "$config/autostart/lomex.desktop" ] || fail "uninstall left the login entry of the removed program ($config)"
    fi
  done
  after=$(cd "$prefix" && find . | sort)
  [ "$before" = "$after" ] || fail "uninstall left the prefix changed:
$(diff <(echo "$before") <(echo "$after"))"
done
echo "install test: 1 passed, 0 failed"
