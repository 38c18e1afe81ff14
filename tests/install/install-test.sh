#!/usr/bin/env bash
# Installs into a temporary prefix (with a space in its path), checks every file, validates the
# desktop entry and the AppStream metadata, starts the entry, then uninstalls and checks that the
# prefix is as it was.
set -euo pipefail
build=$1
source=$2
top=$(mktemp -d)
# Uninstalling edits the coding agents' files: only the temporary homes below are ever theirs.
unset CLAUDE_CONFIG_DIR CODEX_HOME
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
# Uninstalling puts back what Lomex changed in the agents' files before the program goes: the
# user's own status line where the bridge ran the program, and every hook of ours; the user's
# keys, order and hooks stay, and monitoring is stored off. A file it cannot take stops the
# uninstall with nothing removed, until FORCE=1.
home="$top/agent's home"
mkdir -p "$home/.claude" "$home/.config/Lomex"
agents_env=(env HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share"
            XDG_CACHE_HOME="$home/.cache" XDG_RUNTIME_DIR="$top/run")
mkdir -m 700 "$top/run"
uninstall() { "${agents_env[@]}" cmake -DMANIFEST="$build/install_manifest.txt" -DPREFIX="$prefix" "$@" \
                -P "$source/cmake/Uninstall.cmake" >"$top/uninstall.log" 2>&1; }
cmake --install "$build" --prefix "$prefix" >/dev/null
python3 - "$home" "$prefix/bin/lomex" "$("$prefix/bin/lomex" --hook-command PreToolUse)" <<'EOF_PY'
import json, sys
home, program, hook = sys.argv[1:]
ours = {"type": "command", "command": hook, "timeout": 5}
bridge = "'" + program.replace("'", "'\\''") + "' --statusline"
claude = {"model": "opus", "statusLine": {"type": "command", "command": bridge, "padding": 2},
          "hooks": {"PreToolUse": [{"matcher": "Bash", "hooks": [{"type": "command", "command": "my-guard"}]},
                                   {"matcher": "*", "hooks": [ours]}],
                    "Stop": [{"hooks": [ours]}]}}
json.dump(claude, open(home + "/.claude/settings.json", "w"), indent=2)
json.dump({"onboardingDone": True, "agentsEnabled": True, "previousStatusLine": "~/bin/my-status"},
          open(home + "/.config/Lomex/settings.json", "w"))
EOF_PY
uninstall || fail "uninstall with the agents' files: $(cat "$top/uninstall.log")"
grep -q "put back what Lomex changed in $home/.claude/settings.json" "$top/uninstall.log" || fail "no line names the file: $(cat "$top/uninstall.log")"
python3 - "$home" <<'EOF_PY' || fail "the agents' files after uninstall"
import json, sys
home = sys.argv[1]
claude = json.load(open(home + "/.claude/settings.json"))
assert list(claude) == ["model", "statusLine", "hooks"], claude
assert claude["statusLine"] == {"type": "command", "command": "~/bin/my-status", "padding": 2}, claude
assert claude["hooks"] == {"PreToolUse": [{"matcher": "Bash", "hooks": [{"type": "command", "command": "my-guard"}]}]}, claude
assert "lomex" not in json.dumps(claude), claude
assert json.load(open(home + "/.config/Lomex/settings.json")).get("agentsEnabled") is False
EOF_PY
after=$(cd "$prefix" && find . | sort)
[ "$before" = "$after" ] || fail "uninstall with the agents' files left the prefix changed"

cmake --install "$build" --prefix "$prefix" >/dev/null
printf '{"hooks": {"Stop": [{"hooks": [{"type": "command", "command": "curl lomex-agent"}]}]},' > "$home/.claude/settings.json"
! uninstall || fail "uninstall went on past an agent file it could not read"
[ -x "$prefix/bin/lomex" ] || fail "the program was removed although the agents' files were not put back"
grep -q "FORCE=1" "$top/uninstall.log" || fail "the refusal does not say how to go on: $(cat "$top/uninstall.log")"
uninstall -DFORCE=1 || fail "uninstall FORCE=1: $(cat "$top/uninstall.log")"
[ ! -e "$prefix/bin/lomex" ] || fail "uninstall FORCE=1 left the program"

echo "install test: 1 passed, 0 failed"
