# SPDX-License-Identifier: MIT
# Part of tests/package/repository_test on bookworm: the administrator's
# Debian 12 system, with the tool from the signed repository and a rule as
# korvantel-port1 assign leaves it, upgraded to Debian 13 as its release
# notes say: every sources entry to trixie, ours by the README's command,
# then apt upgrade --without-new-pkgs and apt full-upgrade. Once more with
# our entry forgotten at bookworm. Both run beside the repository test's
# other rows, once trixie's own check-release has built its package and its
# autopkgtest has run the end-to-end test, and end with "upgrade: N passed, M failed".

trixie=build/debian-trixie
upgrade_rule='# Serial port 1 of KORVANTEL DEMO: FTDI FT232R_USB_UART, serial A50285BI, interface 00.
# Written by korvantel-port1 assign; korvantel-port1 clear removes it.
SUBSYSTEM=="tty", ENV{ID_VENDOR_ID}=="0403", ENV{ID_MODEL_ID}=="6001", ENV{ID_SERIAL_SHORT}=="A50285BI", ENV{ID_USB_INTERFACE_NUM}=="00", SYMLINK+="korvantel-port1", ENV{ID_MM_DEVICE_IGNORE}="1"'
rules=/etc/udev/rules.d/99-korvantel-port1.rules
# The list with the alias as udev would make it: each command has a /dev of its own.
listed="ln -s null /dev/korvantel-port1 && korvantel-port1"

# What was there before is there after, and was there at all.
same() {  # before, after
    [[ -n "$1" && "$1" == "$2" ]]
}

# One machine from Debian 12 to 13; OURS is the suite our entry then names.
# Ends with "upgrade-MACHINE: N passed, M failed".
walk() {  # machine, ours, end-to-end suite after, the version then installed
    local machine=$1 ours=$2 suite_after=$3 after=$4 before_13 rule_before list_before passes=0 failures=0
    prepare "$machine"
    fetch_key_and_sources "$machine" "$upgrade_url"
    on "$machine" "apt-get update -qq && apt-get install -y -qq korvantel-demo >/dev/null && cat >$rules <<'EOF'
$upgrade_rule
EOF"
    before_13=$(installed "$machine")
    expect "$machine: the Debian 12 build is installed ($before_13)" test "$before_13" = "$version+debian12"
    rule_before=$(on "$machine" "sha256sum $rules")
    list_before=$(on "$machine" "$listed")
    on "$machine" "sed -i 's/bookworm/trixie/g' /etc/apt/sources.list &&
        if [ $ours = trixie ]; then sed -i 's/^Suites: bookworm\$/Suites: trixie/' /etc/apt/sources.list.d/korvantel.sources; fi &&
        apt update -qq 2>/dev/null &&
        apt upgrade --without-new-pkgs -y -q -o Dpkg::Options::=--force-confold >/var/tmp/upgrade.log 2>&1 &&
        apt full-upgrade -y -q -o Dpkg::Options::=--force-confold >>/var/tmp/upgrade.log 2>&1 ||
        { tail -n 30 /var/tmp/upgrade.log; false; }"
    echo "$machine: what apt said of our package and Qt:"
    on "$machine" "grep -iE 'korvantel|REMOVED|kept back|held|libqt6core' /var/tmp/upgrade.log | head -n 20;
        dpkg-query -W 'korvantel-demo' 'libqt6core6*' 2>/dev/null" | sed 's/^/  /'
    echo "$machine: installed after: $(installed "$machine")"
    expect "$machine: the tool installed is $after" test "$(installed "$machine")" = "$after"
    expect "$machine: the rule is unchanged, byte for byte" same "$rule_before" "$(on "$machine" "sha256sum $rules")"
    expect "$machine: the tool sends a frame (the end-to-end suite)" on "$machine" \
        "KORVANTEL_E2E_PROGRAM=/usr/bin/korvantel-demo KORVANTEL_E2E_PORT1=/dev/korvantel-port1 $suite_after --gtest_brief=1"
    expect "$machine: korvantel-port1 lists port 1 and the rule as before" same "$list_before" "$(on "$machine" "$listed")"
    summary "upgrade-$machine"
}

walk_upgrades() {
    # Trixie's autopkgtest adds a test's line to its summary once the test has
    # ended; the end-to-end test keeps its suite first.
    for _ in $(seq 1800); do
        grep -qs '^end-to-end ' "$trixie/autopkgtest/summary" || [[ ! -d $trixie ]] && break
        sleep 1
    done
    local trixie_package
    trixie_package=$(ls "$trixie"/package/korvantel-demo_*_amd64.deb 2>/dev/null)
    if [[ -z "$trixie_package" || ! -e $trixie/autopkgtest/artifacts/end_to_end_test ]]; then
        echo "FAILED: no Debian 13 package and suite: run scripts/check-release trixie first"
        echo "upgrade: 0 passed, 1 failed"
        return 1
    fi
    mkdir -p "build/debian-$release/upgrade"
    cp "$trixie/autopkgtest/artifacts/end_to_end_test" "build/debian-$release/upgrade/"
    start_server "$scratch/upgrade" upgrade_url
    trap "kill ${servers[-1]}" EXIT
    scripts/publish -o "$scratch/upgrade" -u "$upgrade_url" "$key" \
        "bookworm=$(ls "build/debian-$release"/package/korvantel-demo_*_amd64.deb)" "trixie=$trixie_package" >/dev/null
    local passes=0 failures=0
    # Our entry forgotten: apt keeps the Debian 12 build, which must still work.
    step_beside walk forgotten bookworm "$suite" "$version+debian12"
    step walk upgrade trixie /out/upgrade/end_to_end_test "$version+debian13"
    collect
    summary upgrade
}
step_beside walk_upgrades
