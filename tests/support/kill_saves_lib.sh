# What the SIGKILL loops share (sourced after test_lib.sh, with the work directory current): a
# random pause, and the check that a file is exactly its old or its new content.

# Sleeps a random time from 0 to $1 milliseconds.
random_sleep() {
    ms=$(( $(od -An -N2 -tu2 /dev/urandom) % ($1 + 1) ))
    sleep "$(printf '%d.%03d' $((ms / 1000)) $((ms % 1000)))"
}

# brin.ini ($1) must be byte for byte $2 (the old content) or $3 (the new one).
check_ini() {
    cmp -s "$1" "$2" && { OLD_INI=$((OLD_INI + 1)); return 0; }
    cmp -s "$1" "$3" && { NEW_INI=$((NEW_INI + 1)); return 0; }
    echo "--- found" >&2; od -c "$1" | tail -5 >&2
    fail "brin.ini is neither the old nor the new file"
}

# history.ini ($1) must be $2 (the old content) or $2 followed by one whole entry:
# the time line, one of the server's messages, an empty line, CR LF throughout.
check_history() {
    size=$(wc -c <"$2")
    head -c "$size" "$1" | cmp -s - "$2" || fail "history.ini lost its old content"
    tail -c +"$((size + 1))" "$1" >rest
    if [ ! -s rest ]; then OLD_HISTORY=$((OLD_HISTORY + 1)); return 0; fi
    [ "$(tr -cd '\r' <rest | wc -c)" -eq 3 ] && [ "$(wc -l <rest)" -eq 3 ] ||
        fail "history.ini gained a broken entry: $(od -c rest | head -3)"
    tr -d '\r' <rest | sed -n 1p | grep -Eq '^[0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{2}/[0-9]{2}/[0-9]{4}$' ||
        fail "bad time line in the new entry"
    tr -d '\r' <rest | sed -n 2p | grep -Eq '^message [0-9]+$' || fail "bad text in the new entry"
    [ -z "$(tr -d '\r' <rest | sed -n 3p)" ] || fail "the new entry does not end with an empty line"
    NEW_HISTORY=$((NEW_HISTORY + 1))
}

# The server's accounts file: one account with $1 queued messages.
write_accounts() {
    { printf '[%s]\npassword = %s\nbalance = 12.5\n' "$2" "$3"
      i=1; while [ "$i" -le "$1" ]; do printf 'message = message %d\n' "$i"; i=$((i + 1)); done
    } >accounts.ini
}

# Starts brin-server ($1) on every local address at a free port: PORT. Its per-address HELLO
# limit is off: every round's client comes from 127.0.0.1 within a second or so of the last, and
# the rounds killed after their HELLO would spend the burst, so that a later start went unanswered.
start_loop_server() {
    serve_on_free_port 0.0.0.0 "$1" --accounts accounts.ini --hello-burst 0
}

no_leftovers() {
    extra=$(ls -A | grep -Ev "^($1)\$" || true)
    [ -z "$extra" ] || fail "left beside the files: $extra"
}
