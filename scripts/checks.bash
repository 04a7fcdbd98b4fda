# SPDX-License-Identifier: MIT
# Counting for a set of checks, sourced by the scripts that run one: each
# check runs even when one before it failed, and the set ends with
# "NAME: N passed, M failed". Each step says how long it took.

passes=0
failures=0

# One check: passes when the command does.
expect() {  # description, command...
    if "${@:2}"; then
        echo "ok: $1"
        passes=$((passes + 1))
    else
        echo "FAILED: $1"
        failures=$((failures + 1))
    fi
}

# A command that runs checks of its own: counts its tests (ctest's summary,
# or its own "N passed, M failed" line), or as one test when it has none.
step() {  # command...
    local log status summary passed failed started=$SECONDS
    log=$(mktemp)
    "$@" 2>&1 | tee "$log"
    status=${PIPESTATUS[0]}
    summary=$(sed -n -e 's/^[0-9]*% tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\)$/ctest \2 \1/p' \
                     -e 's/^[a-z0-9-]*: \([0-9]*\) passed, \([0-9]*\) failed$/own \1 \2/p' "$log" | tail -n 1)
    rm -f "$log"
    case $summary in
        ctest*) read -r _ total failed <<<"$summary"; passed=$((total - failed)) ;;
        own*) read -r _ passed failed <<<"$summary" ;;
        *) passed=1 failed=0 ;;
    esac
    # A step that failed without saying which test did counts one failure.
    if ((status != 0 && failed == 0)); then
        ((passed > 0)) && passed=$((passed - 1))
        failed=1
    fi
    echo "$*: $passed passed, $failed failed"
    echo "time: $* took $((SECONDS - started)) s"
    passes=$((passes + passed))
    failures=$((failures + failed))
}

# The set's last line; fails when any step did.
summary() {  # name
    echo "$1: $passes passed, $failures failed"
    ((failures == 0))
}

# A step that runs beside the steps after it, for one that waits mostly on
# emulation or compiles beside others that wait; collect shows its lines
# and counts it.
beside=()
step_beside() {  # command...
    local log
    log=$(mktemp)
    (passes=0 failures=0; step "$@"; echo "$passes $failures" >"$log.count") >"$log" 2>&1 &
    beside+=("$!:$log")
}
# Waits for the steps beside, or the first COUNT; one that left no count failed.
collect() {  # [count]
    local count=${1:-${#beside[@]}} entry log passed failed
    for entry in "${beside[@]:0:count}"; do
        log=${entry#*:}
        wait "${entry%%:*}"
        cat "$log"
        read -r passed failed 2>/dev/null <"$log.count" || passed=0 failed=1
        passes=$((passes + passed)) failures=$((failures + failed))
        rm -f "$log" "$log.count"
    done
    beside=("${beside[@]:count}")
}
