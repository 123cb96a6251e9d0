# Sourced by ./tarn: the locks that let several ./tarn commands share one tree,
# and the Wine session they share.
#
# A session is the prefix's wineserver with the modules registered and the
# stand-in devices running.  Every command that needs one holds a shared lock
# on $TARN_BUILD/session/members.lock while it runs: the first one in starts
# the session, later ones join it (the stand-ins keep their state), and the
# last one out ends it.  Joining and leaving are serialised by state.lock.
# What cannot be shared (a build of one architecture, a test run) has an
# exclusive lock, and a command that has to wait for one says for what.
#
# Each lock is held by a small process pair (flock and a tail that follows
# this command's pid), never by a descriptor of this shell: the Wine processes
# this shell starts (the wineserver, the stand-ins' winedevice) would inherit
# the descriptor and keep the lock after the command ends.  When the command
# dies, even by SIGKILL, the tail ends within a second and the lock with it.
# (The tail writes to /dev/null: on a pipe whose reader has gone, tail -f quits.)

SESSION_DIR="$BUILD/session"
declare -A LOCK_TAIL=() LOCK_FLOCK=()

# lock_take NAME -x|-s WHAT: holds NAME until lock_drop NAME or this command's
# end; says "waiting for WHAT" (and who holds it) when it has to wait.
lock_take() {
    local name="$1" mode="$2" what="$3" file="$SESSION_DIR/$1.lock" fd tail_pid
    [ -z "${LOCK_TAIL[$name]:-}" ] || return 0   # held already (a failing start ends the session)
    mkdir -p "$SESSION_DIR"
    if ! flock -n "$mode" "$file" true; then
        local holder
        holder="$(cat "$SESSION_DIR/$name.owner" 2>/dev/null || true)"
        say "waiting for $what${holder:+ ($holder)}"
    fi
    exec {fd}< <(exec flock "$mode" "$file" sh -c 'echo $$; exec tail --pid="$1" -f /dev/null >/dev/null' sh "$$")
    LOCK_FLOCK[$name]=$!
    read -r tail_pid <&"$fd" || die "cannot take the lock $file"
    exec {fd}<&-
    LOCK_TAIL[$name]=$tail_pid
    [ "$mode" = -s ] || printf 'pid %s: ./tarn %s\n' "$$" "$TARN_COMMAND" > "$SESSION_DIR/$name.owner"
}

lock_drop() {
    local name="$1"
    [ -n "${LOCK_TAIL[$name]:-}" ] || return 0
    kill "${LOCK_TAIL[$name]}" 2>/dev/null || true
    wait "${LOCK_FLOCK[$name]}" 2>/dev/null || true
    unset "LOCK_TAIL[$name]" "LOCK_FLOCK[$name]"
}

# Whether nobody holds NAME at all.
lock_is_free() {
    flock -n -x "$SESSION_DIR/$1.lock" true
}

# --- The shared session ------------------------------------------------------------
SESSION_OPEN=0
SESSION_FRESH=no   # yes when this command started the session it is in

begin_session() {
    [ "$SESSION_OPEN" -eq 0 ] || return 0
    detect_x86
    trap end_session EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM HUP
    lock_take state -x "another ./tarn command starting or ending the session"
    if lock_is_free members; then
        SESSION_FRESH=yes
        lock_take members -s ""
        SESSION_OPEN=1
        start_session
    else
        lock_take members -s ""
        SESSION_OPEN=1
        say "joining the running session"
        register_changed
        "$ROOT/standins/service.sh" check || true
    fi
    lock_drop state
}

# The session's processes (the wineserver, and the Wine system processes and
# stand-ins that its first programs start) run in a session of their own: a
# Ctrl-C in the terminal of the command that started them must not end them
# while other commands still use them.
start_session() {
    ensure_prefix
    # A wineserver left by a command that was killed outright, or one still
    # shutting down after the last session ended, must be gone first: a new
    # session's registrations would otherwise race its exit.
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    setsid wineserver -p 2>/dev/null || true
    register_changed
    setsid "$ROOT/standins/service.sh" start
}

# The last command out stops the wineserver, and with it the stand-ins.
end_session() {
    [ "$SESSION_OPEN" -eq 1 ] || return 0
    SESSION_OPEN=0
    trap - INT TERM HUP
    lock_take state -x "another ./tarn command starting or ending the session"
    lock_drop members
    if lock_is_free members; then
        wineserver -k 2>/dev/null || true
        wineserver -w 2>/dev/null || true
    fi
    lock_drop state
}

# --- Registration ------------------------------------------------------------------
# A module is registered again only when it changed since it was last
# registered in this prefix (a stamp of its size and time), or when the
# registry no longer names it (a test unregistered it and stopped half way).
register_changed() {
    local arch
    for arch in "${ARCHS[@]}"; do
        [ "$arch" = x64 ] || [ "$X86_RUNS" = yes ] || continue
        register_arch "$arch"
    done
}

register_arch() {
    local arch="$1" dll stamp identity
    for dll in "$BUILD/$arch/bin/TarnDriver.DLL" "$BUILD/$arch/bin/TarnKit.dll"; do
        [ -f "$dll" ] || continue
        stamp="$WINEPREFIX/.tarn-registered-$arch-$(basename "$dll")"
        identity="$(stat -c '%s %Y' "$dll")"
        if [ "$(cat "$stamp" 2>/dev/null)" = "$identity" ] && registry_names "$dll"; then
            continue
        fi
        rm -f "$stamp"
        register_module "$arch" "$dll"
        printf '%s\n' "$identity" > "$stamp"
    done
}

# Whether the prefix's registry files name the module (as an in-process
# server's path).  Read while a session runs, they may lag the live registry
# by a few seconds; the stamp covers that window.
registry_names() {
    local windows escaped
    windows="$(windows_path "$1")"
    escaped="${windows//\\/\\\\}"
    grep -qiF "@=\"$escaped\"" "$WINEPREFIX/system.reg" 2>/dev/null
}

# Every failure says which module, the exact command, its exit code and what
# it printed (with Wine's error channel on); one more try tells a passing
# hiccup from a module that cannot register.
#
# The output goes to a file, not a pipe: the first Wine program of a session
# starts Wine's system processes, which inherit its output and keep a pipe
# open for the whole session.
register_module() {
    local arch="$1" dll="$2" regsvr32 output rc=0 log="$SESSION_DIR/regsvr32.log"
    regsvr32=("$(wine_for "$arch")" "$(system_folder_for "$arch")\\regsvr32.exe" /s "$(windows_path "$dll")")
    setsid "${regsvr32[@]}" > "$log" 2>&1 || rc=$?
    output="$(cat "$log")"
    [ "$rc" -ne 0 ] || return 0
    say "registering the $arch $(basename "$dll") failed: exit $rc"
    say "  command: ${regsvr32[*]}"
    [ -z "$output" ] || printf '%s\n' "$output" | sed 's/^/    /' >&2
    rc=0
    WINEDEBUG=err+all setsid "${regsvr32[@]}" > "$log" 2>&1 || rc=$?
    output="$(cat "$log")"
    if [ "$rc" -eq 0 ]; then
        say "  a second try passed; going on"
        return 0
    fi
    say "  a second try failed too: exit $rc, with Wine's errors:"
    printf '%s\n' "${output:-(no output)}" | tail -n 25 | sed 's/^/    /' >&2
    die "cannot register $dll"
}
