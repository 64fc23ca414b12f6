#!/bin/sh
# Includes point down: src/main may include core and platform, src/core only core and platform,
# src/platform only platform. Prints every include that points up; exit 1 if there is one.
# Usage: include_direction.sh SOURCE_DIR
src=$1/src
up=$( (grep -rnE '#include "main/' "$src/core" "$src/platform"
       grep -rnE '#include "core/' "$src/platform") | sed "s|^$1/||")
if [ -n "$up" ]; then
  echo "includes that point up:"
  echo "$up"
  exit 1
fi
echo "every include points down"
