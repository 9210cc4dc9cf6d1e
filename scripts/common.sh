# shellcheck shell=bash
# Shared by the project's scripts: tool installation and throw-away Wine prefixes.

# Debian packages the build and the tests need; wixl and msitools build the sample
# package, python3 runs the checks of the authoring files and the guide.
QX_PACKAGES=(cmake ninja-build g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
             binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 wine64 wine googletest
             wixl msitools clang-format python3 git)

qx_install_packages() {
    local missing=()
    local package
    for package in "${QX_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
            || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# The Wine loader that runs the project's 64-bit programs (cmake/mingw.cmake reads
# this line too, for the tests' emulator): a plain path, without quotes.
QX_WINE=/usr/lib/wine/wine64

# How each of the library's lines in an installation log starts ("Qelmora", the
# time, a colon), as an extended regular expression (.github/workflows/windows.yml
# reads this line too).
# shellcheck disable=SC2034 # used by wine-msi.sh and demo
QX_LOG_PREFIX='^Qelmora [0-9]{1,2}:[0-9]{2}:[0-9]{2}( [AP]M)?: '

# The Wine prefixes this script made, which qx_remove_wine_prefixes takes away.
QX_WINE_PREFIXES=()

# Makes a fresh Wine prefix in a temporary folder (qx-NAME.XXXXXX), boots it and
# exports it as WINEPREFIX: no Mono or Gecko prompts, no console noise, and the
# null display driver so that COM apartments can make their hidden windows.
# Set a trap that calls qx_remove_wine_prefixes before calling this.
#   qx_new_wine_prefix NAME
qx_new_wine_prefix() {
    local prefix
    prefix=$(mktemp -d "${TMPDIR:-/tmp}/qx-$1.XXXXXX")
    QX_WINE_PREFIXES+=("$prefix")
    export WINEPREFIX="$prefix"
    export WINELOADER="$QX_WINE"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEARCH=win64
    # Wine keeps the security of registry keys only in the running wineserver (its
    # registry files have no room for it): a persistent server keeps what an
    # installation set until the prefix is removed.
    wineserver -p
    wineboot --init >/dev/null 2>&1
    "$QX_WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
}

# Stops the wineserver of each prefix qx_new_wine_prefix made, and deletes it.
qx_remove_wine_prefixes() {
    local prefix
    for prefix in "${QX_WINE_PREFIXES[@]}"; do
        WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
        WINEPREFIX=$prefix wineserver -w >/dev/null 2>&1 || true
        rm -rf "$prefix"
    done
    QX_WINE_PREFIXES=()
}
