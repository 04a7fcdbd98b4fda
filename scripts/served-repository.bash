# SPDX-License-Identifier: MIT
# A signed apt repository served, sourced by the tests that install the tool
# through apt and by scripts/station: keys made for the run (in the caller's
# GNUPGHOME), and HTTP servers on 127.0.0.1 whose processes go into the array
# servers.

new_key() {  # user id; prints the fingerprint
    gpg --batch --passphrase '' --quick-gen-key "$1" ed25519 sign 1d 2>/dev/null
    gpg --with-colons --list-keys "$1" | awk -F: '$1 == "fpr" { print $10; exit }'
}
start_server() {  # folder, the variable for its URL
    python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$1" >"$1.log" 2>&1 &
    servers+=("$!")
    for _ in $(seq 50); do grep -q port "$1.log" && break; sleep 0.1; done
    printf -v "$2" 'http://127.0.0.1:%s' "$(sed -n 's/.* port \([0-9]*\) .*/\1/p' "$1.log")"
}
