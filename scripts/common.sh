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

# A fresh Wine prefix: no Mono or Gecko prompts, no console noise, and the null
# display driver so that COM apartments can make their hidden windows.
qx_wine_env() {
    export WINEPREFIX="$1"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEARCH=win64
}

qx_init_wine_prefix() {
    qx_wine_env "$1"
    # Wine keeps the security of registry keys only in the running wineserver (its
    # registry files have no room for it): a persistent server keeps what an
    # installation set until qx_stop_wine_prefix.
    mkdir -p "$1"
    wineserver -p
    wineboot --init >/dev/null 2>&1
    /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
}

qx_stop_wine_prefix() {
    [ -n "${WINEPREFIX:-}" ] || return 0
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
}
