# Limits of the shell tests, sourced by them: the same knob as the C++ tests'
# (tests/common/time_limit.hpp), BREVLO_TEST_TIME_SCALE, a whole number of at least 1, 1 when unset.

brevlo_time_scale=${BREVLO_TEST_TIME_SCALE:-1}
case $brevlo_time_scale in
  '' | *[!0-9]* | 0*)
    echo "BREVLO_TEST_TIME_SCALE=$brevlo_time_scale is not a whole number from 1 to 1000" >&2
    exit 2
    ;;
esac
if [ "$brevlo_time_scale" -gt 1000 ]; then
  echo "BREVLO_TEST_TIME_SCALE=$brevlo_time_scale is not a whole number from 1 to 1000" >&2
  exit 2
fi

# brevlo_time_limit [BASE]: BASE seconds (60 when not given) scaled by the knob.
brevlo_time_limit() {
  echo $(( ${1:-60} * brevlo_time_scale ))
}

# brevlo_wait_for_file FILE: waits for a record that another process writes under a temporary
# name and renames into place, so it is whole once it is there. Past the limit it says what it
# waited for and returns 1.
brevlo_wait_for_file() {
  brevlo_limit=$(brevlo_time_limit)
  brevlo_until=$(( $(date +%s) + brevlo_limit ))
  while [ ! -f "$1" ]; do
    if [ "$(date +%s)" -ge "$brevlo_until" ]; then
      echo "waited $brevlo_limit s for $1 to be complete"
      return 1
    fi
    sleep 0.1
  done
}
