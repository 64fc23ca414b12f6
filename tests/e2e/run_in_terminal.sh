#!/bin/sh
# Runs a command with a terminal as its standard input, output and error, so that Wine gives the
# Windows programs it starts a working console; what the command writes is collected in LOG and
# shown afterwards. Usage: run_in_terminal.sh LOG COMMAND [ARGUMENT...]
log="$1"
shift
command=""
for argument in "$@"; do
  quoted=$(printf '%s' "$argument" | sed "s/'/'\\\\''/g")
  command="$command '$quoted'"
done
script -qec "$command > '$log' 2>&1" /dev/null < /dev/null > /dev/null 2>&1
status=$?
cat "$log"
exit $status
