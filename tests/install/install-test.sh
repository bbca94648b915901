#!/usr/bin/env bash
# Installs the build into a temporary prefix, validates what a desktop reads there (entry, AppStream file,
# icons, manual page), then has the installed program publish the demo team's planning from the prefix's
# own data, before and after the prefix is moved.
#   install-test.sh BUILD_FOLDER
set -euo pipefail
build=$1
id=org.rotavine.Rotavine
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
share=$prefix/share
for file in bin/rotavine share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
            share/icons/hicolor/scalable/apps/$id.svg share/icons/hicolor/{16x16,32x32,48x48,256x256}/apps/$id.png \
            share/man/man1/rotavine.1 share/rotavine/Language/EnglishScr.txt share/rotavine/Language/ItalianoMsg.txt \
            share/rotavine/htmltemplate/htmlheader.htm share/rotavine/demo-mailbox/contacts; do
    [ -e "$prefix/$file" ] || fail "$file is not installed"
done
[ ! -e "$share/rotavine/desktop" ] && [ ! -e "$share/rotavine/man" ] || fail "desktop files installed as data"

desktop-file-validate "$share/applications/$id.desktop" || fail "desktop entry"
grep -qx "Icon=$id" "$share/applications/$id.desktop" || fail "the entry names another icon"
appstreamcli validate --no-net "$share/metainfo/$id.metainfo.xml" >/dev/null || fail "AppStream file"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$share/metainfo/$id.metainfo.xml" ||
    fail "the AppStream file launches another entry"

page=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$share/man/man1/rotavine.1" 2>"$work/man-warnings")
[ ! -s "$work/man-warnings" ] || fail "manual page: $(cat "$work/man-warnings")"
# Every option and exit status the program knows is in the manual.
help=$("$prefix/bin/rotavine" --help)
for option in $(grep -oE -- '--[a-z]+' <<<"$help" | sort -u); do
    grep -qF -- "$option" <<<"$page" || fail "the manual page lacks $option"
done
for status in $(sed -n '/^Exit status/,$p' <<<"$help" | grep -oE '(^| )[0-9]+ ' | tr -d ' '); do
    grep -qE "^ {7}$status +[A-Z]" <<<"$page" || fail "the manual page lacks exit status $status"
done

# The page must come from the prefix's templates: mark the installed header.
sed -i '1a <!-- installed-template -->' "$share/rotavine/htmltemplate/htmlheader.htm"
publish() { # PREFIX OUTPUT REPORT
    env -u ROTAVINE_DATA_DIR -u ROTAVINE_CONFIG -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen \
        HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_DATA_HOME="$work/home/data" \
        XDG_CACHE_HOME="$work/home/cache" TMPDIR="$work/tmp" \
        "$1/bin/rotavine" --team "Customer Experience" --view ThisMonth --report "$3" --output "$2"
}
mkdir -p "$work/home" "$work/tmp" "$work/out" "$work/moved-out"
status=0
publish "$prefix" "$work/out/" ReportHTMLPlan || status=$?
[ "$status" -eq 0 ] || fail "the installed program ended with status $status"
[ -s "$work/out/planning.htm" ] || fail "no page"
grep -q 'installed-template' "$work/out/planning.htm" || fail "the page was not made from the prefix's templates"
[ -d "$work/home/data/Rotavine" ] || fail "the demo mailbox was not copied from the prefix on first start"

mv "$prefix" "$work/moved"
status=0
publish "$work/moved" "$work/moved-out/" ReportImage || status=$?
[ "$status" -eq 0 ] || fail "the moved program ended with status $status"
[ -s "$work/moved-out/planning.jpg" ] && grep -q 'installed-template' "$work/moved-out/planning.htm" ||
    fail "the moved program did not publish from its own data"
echo "installed, validated and published from $prefix"
