#!/usr/bin/env bash
# Checks the installation of a built tree.
#   InstallTest.sh tree BUILD_DIR VARNEL VARNEL_CLI HELP_PDF
#       cmake --install into a temporary prefix: every file in its place, the desktop entry and
#       the metainfo accepted by the freedesktop validators, the installed programs run.
#   InstallTest.sh deb BUILD_DIR VARNEL VARNEL_CLI HELP_PDF
#       cpack builds the Debian package: its dependencies and its files.
# VARNEL, VARNEL_CLI and HELP_PDF are what the build made, "none" for what it does not make.
# Exit 77 (skipped, with the reason) where a tool the check needs is missing or the programs
# are not built.
set -euo pipefail

mode=${1:?mode}
build=${2:?build folder}
gui_program=${3:?desktop program}
cli_program=${4:?command-line program}
help_pdf=${5:?help document}
app_id=org.varnel.Varnel
icon_sizes=(16 24 32 48 64 128 256 512)

skip() {
    echo "SKIPPED: $*"
    exit 77
}
fail() {
    echo "FAILED: $*" >&2
    exit 1
}
need_tool() {
    command -v "$1" > /dev/null || skip "$1 is not installed (scripts/setup installs it)"
}

[[ $gui_program != none ]] || skip "this build has no desktop program (VARNEL_BUILD_GUI is off)"
[[ -x $gui_program && -x $cli_program ]] ||
    skip "the programs are not built in $build (build everything first)"
[[ $help_pdf == none || -f $help_pdf ]] ||
    skip "the help document is not built in $build (build everything first)"

# Every file the installation holds, relative to the prefix.
expected=(
    bin/varnel
    bin/varnel-cli
    share/applications/$app_id.desktop
    share/metainfo/$app_id.metainfo.xml
    share/icons/hicolor/scalable/apps/$app_id.svg
    share/man/man1/varnel.1
    share/man/man1/varnel-cli.1
)
for s in "${icon_sizes[@]}"; do
    expected+=("share/icons/hicolor/${s}x${s}/apps/$app_id.png")
done
# Where the installed program looks for its help: PREFIX/share/varnel beside PREFIX/bin.
help_installed=share/varnel/VarnelHelp.pdf
if [[ $help_pdf != none ]]; then
    expected+=("$help_installed")
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/varnel-install-XXXXXX")
trap 'rm -rf "$work"' EXIT

# PNG width and height, from the IHDR chunk at bytes 16..23 (big-endian).
png_size() {
    local b
    read -r -a b < <(od -An -tu1 -j16 -N8 "$1")
    echo "$(((b[0] << 24) | (b[1] << 16) | (b[2] << 8) | b[3]))x$(((b[4] << 24) | (b[5] << 16) | (b[6] << 8) | b[7]))"
}

# The value of KEY in the desktop entry's main group.
desktop_value() {
    sed -n "/^\[Desktop Entry\]/,/^\[/s/^$2=//p" "$1"
}

check_tree() {
    need_tool desktop-file-validate
    need_tool appstreamcli
    local prefix=$work/prefix
    cmake --install "$build" --prefix "$prefix" > "$work/install.log" ||
        { cat "$work/install.log"; fail "cmake --install"; }

    local f
    for f in "${expected[@]}"; do
        [[ -s $prefix/$f ]] || fail "$f is not installed"
    done
    for f in bin/varnel bin/varnel-cli; do
        [[ -x $prefix/$f ]] || fail "$f is not executable"
    done
    # Nothing else: no test programs, libraries or build files.
    local extra
    extra=$(cd "$prefix" && find . -type f | sed 's|^\./||' | sort |
        comm -23 - <(printf '%s\n' "${expected[@]}" | sort))
    [[ -z $extra ]] || fail "unexpected files installed: $extra"

    local s
    for s in "${icon_sizes[@]}"; do
        local size
        size=$(png_size "$prefix/share/icons/hicolor/${s}x${s}/apps/$app_id.png")
        [[ $size == "${s}x${s}" ]] || fail "the ${s}x${s} icon is $size"
    done
    if [[ $help_pdf != none ]]; then
        [[ $(head -c 5 "$prefix/$help_installed") == "%PDF-" ]] || fail "the help is not a PDF"
    fi
    grep -q 'viewBox="0 0 512 512"' "$prefix/share/icons/hicolor/scalable/apps/$app_id.svg" ||
        fail "the SVG icon has not the 512-unit grid"

    local desktop=$prefix/share/applications/$app_id.desktop
    desktop-file-validate "$desktop" || fail "desktop-file-validate refuses the entry"
    [[ $(desktop_value "$desktop" Exec) == "varnel %f" ]] ||
        fail "Exec does not open the given file: $(desktop_value "$desktop" Exec)"
    [[ -x $prefix/bin/$(desktop_value "$desktop" TryExec) ]] || fail "TryExec names no program"
    [[ $(desktop_value "$desktop" Icon) == "$app_id" ]] || fail "Icon is not the installed icon"
    local mime categories
    mime=";$(desktop_value "$desktop" MimeType)"
    categories=";$(desktop_value "$desktop" Categories)"
    for f in audio/x-wav audio/vnd.wave; do
        [[ $mime == *";$f;"* ]] || fail "MimeType lacks $f"
    done
    for f in AudioVideo Audio; do
        [[ $categories == *";$f;"* ]] || fail "Categories lack $f"
    done

    local metainfo=$prefix/share/metainfo/$app_id.metainfo.xml
    appstreamcli validate --no-net "$metainfo" || fail "appstreamcli refuses the metainfo"
    grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" ||
        fail "the metainfo does not launch the installed desktop entry"

    if command -v groff > /dev/null; then
        for f in varnel varnel-cli; do
            local warnings
            warnings=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z "$prefix/share/man/man1/$f.1" 2>&1)
            [[ -z $warnings ]] || fail "man page $f.1: $warnings"
        done
    else
        echo "note: groff is not installed; the man pages are not checked"
    fi

    # The installed command-line program runs from its new place, and its man page describes
    # every option its usage names.
    "$prefix/bin/varnel-cli" --help > "$work/help.txt" || fail "the installed varnel-cli fails"
    grep -q "varnel-cli export" "$work/help.txt" || fail "varnel-cli --help shows no usage"
    sed 's/\\-/-/g' "$prefix/share/man/man1/varnel-cli.1" > "$work/man.txt"
    local option
    for option in $(grep -oE -- '--[a-z][a-z-]*' "$work/help.txt" | sort -u); do
        grep -q -- "$option" "$work/man.txt" || fail "the man page of varnel-cli lacks $option"
    done
    echo "installed tree OK: ${#expected[@]} files"
}

check_deb() {
    need_tool cpack
    need_tool dpkg-deb
    [[ -f $build/CPackConfig.cmake ]] || skip "$build has no CPack configuration"
    (cd "$build" && cpack -G DEB -B "$work/deb" > "$work/cpack.log" 2>&1) ||
        { cat "$work/cpack.log"; fail "cpack -G DEB"; }
    local debs=("$work"/deb/varnel_*.deb)
    [[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || fail "cpack made no single varnel .deb"
    local deb=${debs[0]}

    dpkg-deb -I "$deb"
    local depends
    depends=$(dpkg-deb -f "$deb" Depends)
    local p
    for p in libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins libsdl2-2.0-0 libsndfile1 \
        fonts-noto-cjk; do
        [[ ", $depends," == *", $p"[\ ,]* ]] || fail "the package does not depend on $p"
    done
    [[ $(dpkg-deb -f "$deb" Package) == varnel ]] || fail "the package is not named varnel"

    # The package holds the installation under /usr, the same files cmake --install puts.
    local listed
    listed=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./usr/||' | sort)
    [[ $listed == "$(printf '%s\n' "${expected[@]}" | sort)" ]] ||
        fail "the package's files differ from the installation: $(diff <(echo "$listed") \
            <(printf '%s\n' "${expected[@]}" | sort))"
    echo "package OK: $(basename "$deb"), $(stat -c %s "$deb") bytes"
}

case $mode in
tree) check_tree ;;
deb) check_deb ;;
*) fail "unknown mode $mode" ;;
esac
