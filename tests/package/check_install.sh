#!/usr/bin/env bash
# Checks the installed program: the desktop and AppStream files validate, `cmake --install` into a temporary
# folder lays out every file where the programs look for it, and the programs run from there as an installed
# program, not as a portable copy. When lintian and dpkg-shlibdeps are present it also builds the Debian package
# and runs lintian on it (QH_CHECK_DEB=0 leaves that out).
#   check_install.sh BUILD_DIR SOURCE_DIR
# Environment from the build: QH_PREFIX, QH_BINDIR, QH_DATADIR, QH_PLUGINDIR, QH_MANDIR, QH_SHAREDIR, QH_VERSION,
# QH_WEBENGINE and QH_GUI (1 or 0).
set -euo pipefail

build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    printf 'FAIL: %s\n' "$*" >&2
    failures=$((failures + 1))
}
expect_eq() { # WHAT ACTUAL EXPECTED
    [ "$2" = "$3" ] || fail "$1: got '$2', expected '$3'"
}

validate_sources() {
    local desktop=$source/packaging/org.quillhaul.Quillhaul.desktop
    local metainfo=$source/packaging/org.quillhaul.Quillhaul.metainfo.xml
    if command -v desktop-file-validate >/dev/null; then
        local report
        report=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $report"
        [ -z "$report" ] || fail "desktop-file-validate reports: $report"
    else
        echo "desktop-file-validate missing: desktop file not validated"
    fi
    if command -v appstreamcli >/dev/null; then
        # Infos and pedantic hints pass; warnings and errors fail.
        appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
    else
        echo "appstreamcli missing: metainfo not validated"
    fi
    # The newest release in the metainfo is the version the build declares.
    local release
    release=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$metainfo" | head -n 1)
    expect_eq "metainfo's newest release" "$release" "$QH_VERSION"
}

check_layout() {
    local root=$1 expected=(
        "$QH_BINDIR/quillhaul-cli"
        "$QH_DATADIR/help.html"
        "$QH_MANDIR/man1/quillhaul-cli.1.gz"
        "$QH_SHAREDIR/doc/quillhaul/copyright"
        "$QH_SHAREDIR/doc/quillhaul/changelog.gz"
    )
    if [ "$QH_GUI" = 1 ]; then
        expected+=(
            "$QH_BINDIR/quillhaul"
            "$QH_MANDIR/man1/quillhaul.1.gz"
            "$QH_SHAREDIR/applications/org.quillhaul.Quillhaul.desktop"
            "$QH_SHAREDIR/metainfo/org.quillhaul.Quillhaul.metainfo.xml"
            "$QH_SHAREDIR/icons/hicolor/scalable/apps/quillhaul.svg"
            "$QH_SHAREDIR/icons/hicolor/48x48/apps/quillhaul.png"
            "$QH_SHAREDIR/icons/hicolor/256x256/apps/quillhaul.png"
        )
    fi
    [ "$QH_WEBENGINE" = 1 ] && expected+=("$QH_PLUGINDIR/quillhaul-webengine.so")
    for file in "${expected[@]}"; do
        [ -f "$root/$file" ] || fail "not installed: $file"
    done
    if command -v file >/dev/null; then
        for size in 48 256; do
            local png=$root/$QH_SHAREDIR/icons/hicolor/${size}x${size}/apps/quillhaul.png
            [ ! -f "$png" ] || file "$png" | grep -q "$size x $size" || fail "$png is not $size px"
        done
    fi
    local page
    page=$(zcat "$root/$QH_MANDIR/man1/quillhaul-cli.1.gz" | sed 's/\\-/-/g') # roff's \- as plain -
    grep -q "^\.TH .*\"Quillhaul $QH_VERSION\"" <<<"$page" || fail "the manual page does not carry version $QH_VERSION"
    # Every command the program lists has its entry in the manual page.
    local command
    for command in $("$root/$QH_BINDIR/quillhaul-cli" --help | sed -n 's/^  \([a-z-]*\).*/\1/p'); do
        grep -q "^\.BI\{0,1\} \"\{0,1\}$command\b" <<<"$page" || fail "the manual page lacks the command $command"
    done
}

# The installed programs, moved away from the configured prefix: they must find their files from where they are.
check_installed_programs() {
    local prefix=$1 bin=$1/$QH_BINDIR
    export XDG_DATA_HOME=$work/xdg HOME=$work/home
    mkdir -p "$HOME"
    expect_eq "quillhaul-cli --version" "$("$bin/quillhaul-cli" --version)" "quillhaul-cli $QH_VERSION"
    if [ "$QH_GUI" = 1 ]; then
        expect_eq "quillhaul --version" "$(QT_QPA_PLATFORM=offscreen "$bin/quillhaul" --version)" "Quillhaul $QH_VERSION"
    fi

    # A settings file next to an installed executable does not make it portable...
    touch "$bin/SysCfg.ini"
    expect_eq "installed data folder" "$("$bin/quillhaul-cli" data-dir)" "$XDG_DATA_HOME/quillhaul"
    # ...but next to a copy of it outside any install it does.
    mkdir -p "$work/portable"
    cp "$bin/quillhaul-cli" "$work/portable/"
    touch "$work/portable/SysCfg.ini"
    expect_eq "portable data folder" "$("$work/portable/quillhaul-cli" data-dir)" "$work/portable"

    if [ "$QH_WEBENGINE" = 1 ]; then
        # The plugin is not next to the executable: the installed one must be found and loaded.
        printf '<html><body><p id="x">written</p><script>document.getElementById("x").textContent = "by script";</script></body></html>' \
            >"$work/page.html"
        local dom
        dom=$("$bin/quillhaul-cli" dom --web "$work/page.html" 2>"$work/dom.err") \
            || fail "dom --web with the installed plugin: $(cat "$work/dom.err")"
        grep -q "by script" <<<"$dom" || fail "dom --web did not run the page's script: $dom"
    fi
}

check_deb() {
    if ! command -v lintian >/dev/null || ! command -v dpkg-shlibdeps >/dev/null; then
        echo "lintian or dpkg-shlibdeps missing: package not checked"
        return
    fi
    # A Debian package installs under /usr (build.sh configures so); a build for another prefix is not one.
    if [ "$QH_PREFIX" != /usr ]; then
        echo "built for $QH_PREFIX, not /usr: package not checked"
        return
    fi
    (cd "$build" && cpack -G DEB -B "$work/deb" >/dev/null) || { fail "cpack -G DEB"; return; }
    local deb
    deb=$(ls "$work"/deb/quillhaul_*.deb)
    lintian --fail-on error "$deb" || fail "lintian reports errors on $deb"
}

validate_sources
DESTDIR=$work/root cmake --install "$build" >/dev/null
check_layout "$work/root$QH_PREFIX"
# Move the install away from its prefix, as a relocated install.
mkdir -p "$work/moved"
mv "$work/root$QH_PREFIX" "$work/moved/prefix"
check_installed_programs "$work/moved/prefix"
[ "${QH_CHECK_DEB:-1}" = 0 ] || check_deb

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "all package checks passed"
