# Screen-reader steps of the end-to-end scenarios: the installer read and
# driven only through its accessible objects, from another process
# (tools/a11y: kv_a11y_client), and the events a reader follows recorded by
# kv_a11y_events. Sourced by scenarios.sh after e2e-lib.sh.

MAIN_CLASS=InstallPackages
BOX_CLASS=korvelim
A11Y_CLIENT="$KV_BUILD/tools/kv_a11y_client.exe"
A11Y_EVENTS="$KV_BUILD/tools/kv_a11y_events.exe"

# acc COMMAND CLASS TITLE [ARG]: one run of the client (UTF-8 output, no CRs).
acc() { LC_ALL=C.UTF-8 wine "$A11Y_CLIENT" "$@" 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }

# acc_do CLASS TITLE NAME: the named child's default action, as a reader does it.
acc_do() { acc do "$@" >/dev/null || fail "accDoDefaultAction on $3 in $2 was refused"; note "reader: $3 in $2"; }

# acc_wait_state CLASS TITLE NAME REGEX SECONDS [unchecked]: until the
# child's line matches (and, with "unchecked", its state is not checked).
acc_line_matches() {
  ACC_LINE="$(acc find "$1" "$2" "$3" || true)"
  [[ $ACC_LINE =~ $4 ]] && { [[ ${5:-} != unchecked ]] || [[ $(cut -d'|' -f3 <<<"$ACC_LINE") != *checked* ]]; }
}
acc_wait_state() {
  ACC_LINE=""
  wait_until "$5" acc_line_matches "$1" "$2" "$3" "$4" "${6:-}" || fail "$3 in $2 never matched /$4/ ${6:-}(last: $ACC_LINE)"
}
# acc_focus_is CLASS TITLE NAME: the child with the focus is NAME.
acc_focus_is() { [[ $(acc focus "$1" "$2" || true) == "$3 |"* ]]; }

# acc_expect_tree CLASS TITLE SHOT <<EXPECTED: the client's tree (its own
# checks passing: names, hit tests, navigation, locations inside the
# window, the same children asked for by index) matched line by line
# against extended regular expressions, one a line, the window's line first.
# The tree is kept in $E2E_SHOTS/SHOT.tree, the index walk in SHOT.index.
acc_expect_tree() {
  local cls=$1 title=$2 shot=$3 tree status=0
  local -a want got
  mapfile -t want
  tree="$(acc tree "$cls" "$title")" || status=$?
  printf '%s\n' "$tree" >"$E2E_SHOTS/$shot.tree"
  acc index "$cls" "$title" >"$E2E_SHOTS/$shot.index" || true
  note "tree of $title ($shot):"; printf '%s\n' "$tree" | sed 's/^/    /'
  ((status == 0)) || fail "the reader's checks of $title failed ($status)"
  mapfile -t got <<<"$tree"
  ((${#got[@]} == ${#want[@]})) || fail "$title has ${#got[@]} lines, expected ${#want[@]}"
  local i
  for i in "${!want[@]}"; do
    [[ ${got[$i]} =~ ^${want[$i]}$ ]] || fail "$title line $((i + 1)): '${got[$i]}' does not match '${want[$i]}'"
  done
}

# events_start / events_stop: the listener runs beside the whole scenario.
events_start() {
  EVENTS_LOG="$E2E_DIR/events.txt"; EVENTS_STOP="$E2E_DIR/events.stop"
  rm -f "$EVENTS_LOG" "$EVENTS_STOP"
  LC_ALL=C.UTF-8 wine "$A11Y_EVENTS" "$(winpath "$EVENTS_LOG")" "$(winpath "$EVENTS_STOP")" 280 \
    "$MAIN_CLASS" "$BOX_CLASS" >/dev/null 2>&1 &
  EVENTS_PID=$!
  wait_until 10 grep -q listening "$EVENTS_LOG" 2>/dev/null || fail "the event listener did not start"
}
events_gone() { ! kill -0 "$EVENTS_PID" 2>/dev/null; }
events_stop() {
  touch "$EVENTS_STOP"
  wait_until 10 events_gone || kill "$EVENTS_PID" 2>/dev/null || true
  cp "$EVENTS_LOG" "$E2E_SHOTS/events.txt" 2>/dev/null || true
}
events() { tr -d '\r' <"$EVENTS_LOG"; }
