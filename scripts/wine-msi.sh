# shellcheck shell=bash
# Shared by the demo and the end-to-end tests: running packages through Wine's
# msiexec and reading what the library did. Source after scripts/common.sh, with
# a Wine prefix set up (qx_new_wine_prefix).

# A Unix path as Windows programs in the prefix see it (drive Z: is /).
qx_windows_path() {
    local path
    path=$(realpath -m "$1")
    printf 'Z:%s\n' "${path//\//\\}"
}

# Runs msiexec with the given arguments and a verbose log written to LOG, and
# prints its exit code. cmd reports the whole code: a Unix exit status keeps
# only the low 8 bits (1603 would come back as 67).
#   code=$(qx_msiexec LOG /i package.msi /qn PROPERTY=value)
qx_msiexec() {
    local log=$1
    shift
    local command=msiexec
    local arg
    for arg in "$@" "/l*v" "$(qx_windows_path "$log")"; do
        case "$arg" in
            *[[:space:]]*) command+=" \"$arg\"" ;;
            *) command+=" $arg" ;;
        esac
    done
    { "$QX_WINE" cmd /v:on /c "$command & echo qx-exit-code !ERRORLEVEL!" 2>/dev/null || true; } | tr -d '\r' |
        sed -n 's/^qx-exit-code //p' | tail -n 1
}

# The library's lines in a log, without the "Qelmora <time>: " in front.
qx_library_lines() {
    tr -d '\r' <"$1" | sed -E -n "s/$QX_LOG_PREFIX//p"
}

# The items the cost action handed to the install action, as the log's property
# dump shows them: one line per item, OBJECT TAB TABLE TAB FLAGS.
qx_lock_items() {
    tr -d '\r' <"$1" | sed -n 's/^Property(S): QXLockPermissionsInstall = //p' | tail -n 1 | tr '*' '\n' |
        awk -F'|' 'NF >= 6 { print $1 "\t" $2 "\t" $6 }'
}

# Objects the install action worked on, in log order: those it read and those it
# gave up on.
qx_attempted_objects() {
    qx_library_lines "$1" |
        sed -n "s/^Getting existing security descriptor for '\(.*\)'\$/\1/p; s/^Failed to apply permissions for object '\(.*\)', error .*/\1/p" |
        awk '!seen[$0]++'
}

# Access lists through tools/showacl: showacl.exe registry:NAME | file:PATH ...
# An object that cannot be read shows as "(not readable: error N)"; the status is 0.
qx_showacl() {
    local showacl=$1
    shift
    { "$QX_WINE" "$showacl" "$@" 2>&1 || true; } | tr -d '\r'
}
