#!/usr/bin/env bash
# End-to-end cases: the sample package (scripts/build-sample) installed by Wine's
# msiexec. Each case builds a package with a product code of its own and runs in
# a fresh Wine prefix, so nothing one case installs is seen by another.
#
#   tests/e2e/e2e.sh CASE QXLockPermissions.dll showacl.exe QXLockCheck.exe
#   CASE: install | addlocal | maintenance | failure | no-lock-table | rollback
#
# build-sample checks every package with QXLockCheck.exe before it is installed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
# shellcheck source=scripts/common.sh
source "$root/scripts/common.sh"
# shellcheck source=scripts/wine-msi.sh
source "$root/scripts/wine-msi.sh"

case_name=${1:?case name}
dll=$(realpath "${2:?path of QXLockPermissions.dll}")
showacl=$(realpath "${3:?path of showacl.exe}")
checker=$(realpath "${4:?path of QXLockCheck.exe}")

# The sample's objects, as the library names them.
FILE64='C:\Program Files\Qelmora\LockSample\sample64.txt'
FILE32='C:\Program Files (x86)\Qelmora\LockSample\sample32.txt'
FILE_EXTRAS='C:\Program Files\Qelmora\LockSample\extras.txt'
DATADIR='C:\Program Files\Qelmora\LockSample\data\'
KEY64='MACHINE\Software\Qelmora\LockSample'
KEY_EXTRAS='MACHINE\Software\Qelmora\LockSample\Extras'
KEY32='MACHINE\Software\Qelmora\LockSample32'
# Where the installer writes the 32-bit component's key: the 32-bit view.
KEY32_VIEW='MACHINE\Software\WOW6432Node\Qelmora\LockSample32'
declare -A COMPONENT_OF=(
    ["$FILE64"]=Main64 ["$KEY64"]=Main64 ["$DATADIR"]=Data64 ["$FILE32"]=Main32 ["$KEY32"]=Main32
    ["$FILE_EXTRAS"]=Extras64 ["$KEY_EXTRAS"]=Extras64)
EXTRAS_OBJECTS=("$FILE_EXTRAS" "$KEY_EXTRAS")

work=$(mktemp -d "${TMPDIR:-/tmp}/qx-e2e-$case_name.XXXXXX")
cleanup() {
    qx_remove_wine_prefixes
    rm -rf "$work"
}
trap cleanup EXIT
qx_new_wine_prefix "e2e-$case_name"

passed=0
failed=0
pass() {
    passed=$((passed + 1))
    echo "ok: $1"
}
fail() {
    failed=$((failed + 1))
    echo "FAIL: $1"
    if [ $# -gt 1 ]; then
        printf '%s\n' "$2" | sed 's/^/    /'
    fi
}

# A package of the sample with a fresh product code; extra arguments go to build-sample.
build_package() {
    local name=$1
    shift
    product_code="{$(tr 'a-f' 'A-F' </proc/sys/kernel/random/uuid)}"
    "$root/scripts/build-sample" --dll "$dll" --checker "$checker" --output "$work/$name.msi" \
        --product-code "$product_code" "$@" >/dev/null
}

# Runs msiexec on the package (or product code) and checks its exit code.
run_msiexec() {
    local what=$1 log=$2 expected_code=$3
    shift 3
    local code
    code=$(qx_msiexec "$log" "$@")
    if [ "$code" = "$expected_code" ]; then
        pass "$what: msiexec exit code $code"
    else
        fail "$what: msiexec exit code '${code}', expected $expected_code" "$(qx_library_lines "$log" | tail -n 20)"
    fi
}

expect_line() {
    local log=$1 line=$2
    if qx_library_lines "$log" | grep -Fxq -- "$line"; then
        pass "log line: $line"
    else
        fail "no log line: $line" "$(qx_library_lines "$log")"
    fi
}

# An object's access list as showacl prints it, compared whole.
expect_acl() {
    local object=$1 expected=$2
    local actual
    actual=$(qx_showacl "$showacl" "registry:$object" | tail -n +2)
    if [ "$actual" = "$expected" ]; then
        pass "access list of $object"
    else
        fail "access list of $object" "$(diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") || true)"
    fi
}

# showacl lines: type, account, mask, inheritance.
entry() {
    printf '\t%s\t%s\t%s\t%s' "$1" "$2" "$3" "$4"
}
# What Wine gives every key it creates under HKLM\Software.
WINE_KEY_ENTRIES="$(entry allow 'BUILTIN\Users' 0x80000000 'CI IO')
$(entry allow 'BUILTIN\Administrators' 0x000f003f -)"

# The component states that the cost action logged: COMPONENT TAB INSTALLED TAB ACTION.
component_states() {
    qx_library_lines "$1" | awk '
        /^Attempting to determine component state for / { component = substr($0, 45); next }
        /^Install state of component is / && component != "" {
            split($0, words, /[ ,]+/); print component "\t" words[6] "\t" words[9]; component = "" }' | sort -u
}

expect_component_state() {
    local log=$1 component=$2 installed=$3 action=$4
    local states
    states=$(component_states "$log" | awk -F'\t' -v c="$component" '$1 == c { print $2 " " $3 }' | sort -u)
    if [ "$states" = "$installed $action" ]; then
        pass "component $component: installed $installed, action $action"
    else
        fail "component $component: state '$states', expected '$installed $action'" "$(component_states "$log")"
    fi
}

# The objects the library must lock in a run: those whose component is installed
# locally now (action 3), or is installed and neither left alone (ffffffff),
# advertised (1) nor removed (2); the installer's word, read from the log.
expected_objects() {
    local log=$1 object component installed action
    local -A keep=()
    while IFS=$'\t' read -r component installed action; do
        if [ "$action" = 3 ] || { [ "$installed" = 3 ] && [[ ! "$action" =~ ^(ffffffff|1|2)$ ]]; }; then
            keep[$component]=1
        fi
    done < <(component_states "$log")
    for object in "${!COMPONENT_OF[@]}"; do
        if [ -n "${keep[${COMPONENT_OF[$object]}]:-}" ]; then
            printf '%s\n' "$object"
        fi
    done | sort
}

expect_locked_objects() {
    local what=$1 log=$2 expected=$3
    local actual
    actual=$(qx_attempted_objects "$log" | sort)
    if [ "$actual" = "$expected" ]; then
        pass "$what: the library worked on exactly: ${actual:+$(paste -sd';' <<<"$actual")}${actual:-nothing}"
    else
        fail "$what: the library worked on other objects than expected" \
            "$(diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") || true)"
    fi
}

# The Unix path of a C: path in the prefix.
unix_path() {
    local path=${1#C:\\}
    printf '%s/drive_c/%s\n' "$WINEPREFIX" "${path//\\//}"
}

case_install() {
    build_package sample
    local log=$work/install.log
    run_msiexec "install" "$log" 0 /i "$(qx_windows_path "$work/sample.msi")" /qn

    # Every line the library writes for the sample, in order.
    local differences
    if differences=$(diff "$here/expected/install.txt" <(qx_library_lines "$log")); then
        pass "the library's log lines are the expected ones ($(wc -l <"$here/expected/install.txt") lines)"
    else
        fail "the library's log lines differ from tests/e2e/expected/install.txt (< expected, > logged)" "$differences"
    fi

    # Deny entries first, as SetEntriesInAcl orders them; the formatted account is
    # the property's value.
    expect_acl "$KEY64" "$(entry deny 'BUILTIN\Guests' 0x00010006 'OI CI')
$(entry allow 'NT AUTHORITY\Authenticated Users' 0x00020019 'OI CI')
$WINE_KEY_ENTRIES"
    # Granting replaces the account's entry that Wine gave the new key.
    expect_acl "$KEY_EXTRAS" "$(entry allow 'BUILTIN\Users' 0x00020019 'OI CI')
$(entry allow 'BUILTIN\Administrators' 0x000f003f -)"
    # The 32-bit component's key needs the helper, which the 64-bit library does not have.
    expect_acl "$KEY32_VIEW" "$WINE_KEY_ENTRIES"
}

case_addlocal() {
    build_package sample
    local log=$work/addlocal.log
    run_msiexec "install without Extras" "$log" 0 /i "$(qx_windows_path "$work/sample.msi")" /qn ADDLOCAL=Main

    expect_component_state "$log" Extras64 2 ffffffff
    local object
    for object in "${EXTRAS_OBJECTS[@]}"; do
        if qx_library_lines "$log" | grep -Fq -- "$object" || qx_lock_items "$log" | grep -Fq -- "$object"; then
            fail "the library handled $object, whose feature is left out" "$(qx_library_lines "$log" | grep -F -- "$object")"
        else
            pass "nothing handled for $object"
        fi
    done
    expect_locked_objects "ADDLOCAL=Main" "$log" "$(printf '%s\n' "$FILE64" "$FILE32" "$DATADIR" "$KEY64" "$KEY32" | sort)"
    if [ -e "$(unix_path "$FILE_EXTRAS")" ]; then
        fail "$FILE_EXTRAS is installed although its feature is left out"
    else
        pass "$FILE_EXTRAS is not installed"
    fi
}

case_maintenance() {
    build_package sample
    local package
    package=$(qx_windows_path "$work/sample.msi")
    run_msiexec "first install" "$work/install.log" 0 /i "$package" /qn

    # Reinstalling Extras locks its objects again. Which other objects the library
    # locks follows what the installer says about each component: Windows leaves
    # the components of features not named alone (not locked); Wine's msi asks for
    # every installed feature again (action 3), so here they are locked too.
    local log=$work/reinstall.log
    run_msiexec "REINSTALL=Extras" "$log" 0 /i "$package" /qn REINSTALL=Extras REINSTALLMODE=omus
    expect_component_state "$log" Extras64 3 3
    expect_locked_objects "REINSTALL=Extras" "$log" "$(expected_objects "$log")"
    # A second grant replaces the first: the key's list is as after the first install.
    expect_acl "$KEY_EXTRAS" "$(entry allow 'BUILTIN\Users' 0x00020019 'OI CI')
$(entry allow 'BUILTIN\Administrators' 0x000f003f -)"

    # Removing a feature: its objects are not touched.
    log=$work/remove.log
    run_msiexec "REMOVE=Extras" "$log" 0 /i "$package" /qn REMOVE=Extras
    expect_component_state "$log" Extras64 3 2
    expect_locked_objects "REMOVE=Extras" "$log" "$(expected_objects "$log")"

    # Uninstalling: the cost action runs and finds every component going away.
    log=$work/uninstall.log
    run_msiexec "uninstall" "$log" 0 /x "$product_code" /qn
    local component
    for component in Main64 Data64 Main32; do
        expect_component_state "$log" "$component" 3 2
    done
    expect_line "$log" "No permissions items present. Skipping action..."
    expect_locked_objects "uninstall" "$log" ""
}

# A key that existed before the installation keeps its list when the
# installation is rolled back after the install action changed it.
case_rollback() {
    # The sample's 64-bit key, made before with a list of the test's own.
    local before_sddl='D:P(A;OICI;KA;;;BA)(A;OICI;KR;;;BU)(A;OICI;KA;;;SY)'
    "$QX_WINE" reg add 'HKLM\Software\Qelmora\LockSample' /f >/dev/null 2>&1
    if ! "$QX_WINE" "$showacl" --set "registry:$KEY64" "$before_sddl" >/dev/null 2>&1; then
        fail "the key's list could not be set up"
        return
    fi
    local before
    before=$(qx_showacl "$showacl" "registry:$KEY64" | tail -n +2)

    # A program run from the script after the install action exits 1. Windows ends
    # such an installation with 1603; Wine's msiexec passes on the failed action's
    # own error, 1627 (ERROR_FUNCTION_FAILED). Either way it rolls back, and runs
    # the rollback action.
    build_package failing --fail-after-install
    local log=$work/rollback.log
    run_msiexec "install that fails after the install action" "$log" 1627 \
        /i "$(qx_windows_path "$work/failing.msi")" /qn
    # The install action merged its entries first...
    expect_line "$log" "Setting new security descriptor for '$KEY64'"
    # ...and the rollback put the list back, entry for entry.
    expect_line "$log" "Restored access list of '$KEY64'"
    expect_acl "$KEY64" "$before"

    # The same package without the failing action keeps the merged entries.
    build_package sample
    log=$work/install.log
    run_msiexec "install" "$log" 0 /i "$(qx_windows_path "$work/sample.msi")" /qn
    expect_acl "$KEY64" "$(entry deny 'BUILTIN\Guests' 0x00010006 'OI CI')
$(entry allow 'NT AUTHORITY\Authenticated Users' 0x00020019 'OI CI')
$before"
}

case_failure() {
    # A row that fails without "ignore failure": an account that does not exist.
    printf 'Reg64\tRegistry\t\tQXMissingAccount\t131097\t0\t\n' >"$work/failing-row.tsv"
    build_package failing --extra-lock-rows "$work/failing-row.tsv"
    local log=$work/failure.log
    run_msiexec "install with a failing row" "$log" 1603 /i "$(qx_windows_path "$work/failing.msi")" /qn

    expect_line "$log" "ResolveSidForAccountName: looking up account name 'QXMissingAccount'"
    expect_line "$log" "Failed to lookup account name, last error: 0x00000534"
    expect_line "$log" "Failed to apply permissions for object '$KEY64', error 0x00000534"
    expect_line "$log" "Error returned from ApplyPermissionsItems: 0x00000643"
    # The package's Error table worded the prompt that no one could answer.
    if tr -d '\r' <"$log" | grep -Fq "Could not set permissions on $KEY64: "; then
        pass "error 27555 with the object's name is in the log"
    else
        fail "error 27555 for $KEY64 is not in the log"
    fi

    # Rolled back: nothing installed stays, and the product is not registered.
    local object
    for object in "$FILE64" "$FILE_EXTRAS" "$FILE32"; do
        if [ -e "$(unix_path "$object")" ]; then
            fail "$object is still there after the rollback"
        else
            pass "$object is gone after the rollback"
        fi
    done
    expect_acl "$KEY64" $'\t(not readable: error 2)'
    if "$QX_WINE" reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product_code" >/dev/null 2>&1; then
        fail "the product $product_code is registered after the rollback"
    else
        pass "the product is not registered"
    fi
}

case_no_lock_table() {
    build_package unlocked --without-lock-table
    local log=$work/unlocked.log
    run_msiexec "install without the lock table" "$log" 0 /i "$(qx_windows_path "$work/unlocked.msi")" /qn

    local expected="Qelmora permissions table not present, skipping action...
No permissions items present. Skipping action..."
    local actual
    actual=$(qx_library_lines "$log")
    if [ "$actual" = "$expected" ]; then
        pass "the library wrote only that it has nothing to do"
    else
        fail "the library's log lines" "$(diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") || true)"
    fi
    if [ -f "$(unix_path "$FILE64")" ]; then
        pass "$FILE64 is installed"
    else
        fail "$FILE64 is not installed"
    fi
    expect_acl "$KEY64" "$WINE_KEY_ENTRIES"
}

case "$case_name" in
    install) case_install ;;
    addlocal) case_addlocal ;;
    maintenance) case_maintenance ;;
    failure) case_failure ;;
    no-lock-table) case_no_lock_table ;;
    rollback) case_rollback ;;
    *) echo "unknown case: $case_name" >&2; exit 2 ;;
esac

echo "e2e $case_name: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
