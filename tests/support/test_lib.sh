# What the shell tests share: reporting a failure, and a brin-server on a free port. Sourced by
# POSIX sh and bash scripts. FAIL_CONTEXT, when set, names the case in every failure line;
# FAIL_LOGS names files shown on standard error when a failure ends the test.

# Ends the test: the failure line, the logs, exit 1.
fail() {
    echo "FAIL${FAIL_CONTEXT:+ ($FAIL_CONTEXT)}: $*" >&2
    for log in ${FAIL_LOGS:-}; do
        [ -f "$log" ] && { echo "--- $log" >&2; cat "$log" >&2; }
    done
    exit 1
}

# A failed check that lets the others run; end_checks then ends the test with exit 1.
failures=0
check_failed() {
    echo "FAIL${FAIL_CONTEXT:+ ($FAIL_CONTEXT)}: $*" >&2
    failures=$((failures + 1))
}
end_checks() {
    [ "$failures" -eq 0 ] || exit 1
}

# Starts a brin-server (PROGRAM and its arguments, with --listen HOST:0 added) that logs to
# server.log, and waits up to 30 s for its "listening on" line: SERVER_PID and PORT.
serve_on_free_port() {  # HOST PROGRAM [ARGUMENT...]
    listen_host=$1
    shift
    : >server.log
    "$@" --listen "$listen_host:0" >>server.log 2>&1 &
    SERVER_PID=$!
    tries=0
    while :; do
        # (a Windows server's lines end in CR LF)
        PORT=$(tr -d '\r' <server.log | sed -n 's/^.* listening on [0-9.]*:\([0-9]*\).*/\1/p' | head -n 1)
        [ -n "$PORT" ] && return 0
        kill -0 "$SERVER_PID" 2>/dev/null || fail "the server ended: $(cat server.log)"
        tries=$((tries + 1))
        [ "$tries" -lt 300 ] || fail "the server did not start: $(cat server.log)"
        sleep 0.1
    done
}
