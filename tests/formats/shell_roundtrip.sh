#!/usr/bin/env bash
# What the bundled plug-ins' shared shell must do under Wine, checked from
# outside: a symbolic link and the file it leads to are left alone (ln,
# readlink, cmp); a rewrite keeps the file's mode and owner or leaves the
# file as it was (stat). (Names and comments of any character go through
# the whole tool in test_bundled_e2e, read back by other programs' readers.)
#   shell_roundtrip.sh CPI_WRITE.EXE PLUGIN_DIR WORK_DIR
# Needs the Wine environment of scripts/common.sh, and root (for chown).
set -uo pipefail
helper=$1 plugins=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
"$here/make_samples.sh" samples >/dev/null || exit 1

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
same() { [ "$2" == "$3" ] || fail "$1: expected [$3], got [$2]"; }
# The path as the tool hands it: in the \\?\ form when it is too long.
winpath() {
  local p; p=$(realpath -s "$1")
  p="Z:${p//\//\\}"
  if [ "${#p}" -gt 259 ]; then printf '\\\\?\\%s' "$p"; else printf '%s' "$p"; fi
}
# Mode, owner, size, time and contents: everything a rewrite may not change
# behind the user's back, or all but the contents.
meta() { stat -c '%a %U:%G' "$1"; }
state() { echo "$(meta "$1") $(stat -c '%s %Y' "$1")"; md5sum <"$1"; }

source "$here/bundled.sh"

# write COMMENT_FILE EXPECTED_RESULT FILE...: one Wine run for all files.
write() {
  local f result path count=0
  local comment=$1 expected=$2
  shift 2
  for f in "$@"; do
    printf '%s|%s|%s\r\n' "$(winpath "$plugins/$(plugin_for "$f").cpi")" "$(winpath "$f")" "$(winpath "$comment")"
  done >jobs.txt
  while read -r result path; do
    [ -n "$result" ] || continue
    same "result for $path" "$result" "$expected"
    count=$((count + 1))
  done < <(wine "$helper" "$(winpath jobs.txt)" 2>helper.err | tr -d '\r')
  same "jobs run" "$count" "$#"
}

printf 'Kestrane comment' >comment.txt

# Links named like the files they lead to: in another folder, differing
# only in case, in the same folder, and on another drive at the same path
# there (C: is the Wine prefix's drive_c). Each is refused as "could not
# be replaced" (3); link and file stay as they were.
mkdir -p links/lib links/view
cp samples/plain.jpg links/lib/song.jpg
cp samples/plain.jpg links/lib/Case.jpg
cp samples/plain.jpg links/view/Same.jpg
other_drive="$WINEPREFIX/drive_c$PWD/links/view"
mkdir -p "$other_drive" && cp samples/plain.jpg "$other_drive/drive.jpg"
ln -s ../lib/song.jpg links/view/song.jpg
ln -s ../lib/Case.jpg links/view/case.jpg
ln -s Same.jpg links/view/same.jpg
ln -s "$other_drive/drive.jpg" links/view/drive.jpg
write comment.txt 3 links/view/song.jpg links/view/case.jpg links/view/same.jpg links/view/drive.jpg
for f in links/lib/song.jpg links/lib/Case.jpg links/view/Same.jpg "$other_drive/drive.jpg"; do
  cmp -s "$f" samples/plain.jpg || fail "$f changed or gone"
done
rm "$other_drive/drive.jpg" && rmdir -p "$other_drive" 2>/dev/null
same "the links" "$(cd links/view && for l in song.jpg case.jpg same.jpg; do printf '%s>%s ' "$l" "$(readlink "$l")"; done)" \
  "song.jpg>../lib/song.jpg case.jpg>../lib/Case.jpg same.jpg>Same.jpg "
same "files beside the links" "$(ls links/lib links/view | tr '\n' ' ')" \
  "links/lib: Case.jpg song.jpg  links/view: Same.jpg case.jpg drive.jpg same.jpg song.jpg "

# Modes and owners. Wine gives a replaced file the temporary file's Unix
# mode and owner: a private file, one its group may read and another
# user's are refused and stay as they were; a file of the usual mode and
# owner is written and keeps them.
mkdir perms
for f in private:600 group:640 others:644; do
  cp samples/stored.zip "perms/${f%:*}.zip" && chmod "${f#*:}" "perms/${f%:*}.zip"
done
chown nobody:nogroup perms/others.zip || fail "chown needs root"
cp samples/stored.zip perms/usual.zip
for f in perms/*.zip; do state "$f" >"$f.before"; done
write comment.txt 3 perms/private.zip perms/group.zip perms/others.zip
for f in private group others; do same "perms/$f.zip" "$(state "perms/$f.zip")" "$(cat "perms/$f.zip.before")"; done
write comment.txt 0 perms/usual.zip
same "mode and owner of perms/usual.zip" "$(meta perms/usual.zip)" "$(head -n 1 perms/usual.zip.before | cut -d ' ' -f 1,2)"
same "comment of perms/usual.zip" "$(unzip -z perms/usual.zip | tail -n +2)" "Kestrane comment"
same "files left beside the targets" "$(ls perms | grep -cvE '\.(zip|before)$')" "0"

[ "$failures" -eq 0 ] && echo "all shell round trips passed" || echo "$failures failures"
[ "$failures" -eq 0 ]
