# wait_for SECONDS COMMAND...: true as soon as COMMAND succeeds, false when
# it still fails after SECONDS. Sourced by the application's shell tests.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.1
  done
}
