#!/usr/bin/env bash
# Includes point down the layers (docs/design.md): a file under src/ or app/
# includes headers of its own layer and those below it, never of one above.
# The layers, bottom first, are written here once. Folders on one line are
# one layer and include each other freely (the core is one library); a
# folder on no line fails, so that a new one is given its place.
set -euo pipefail
source_dir=$1
layers=(
  "platform util tracking shell engine report moviehost swf"
  "package"
  "xapi"
  "store"
  "scorm"
  "scorm2004"
  "cmi5"
  "tincan"
  "desktop"
  "app"
)
declare -A rank
for i in "${!layers[@]}"; do
  for folder in ${layers[$i]}; do rank[$folder]=$i; done
done
status=0
while IFS=: read -r path line target; do
  relative=${path#src/}
  own=${relative%%/*}
  if [[ ! -v rank[$own] ]]; then
    echo "FAIL: $path: the folder $own is in no layer" >&2
    status=1
    continue
  fi
  folder=${target%%/*}
  [[ $target == */* && -v rank[$folder] ]] || continue
  if ((rank[$folder] > rank[$own])); then
    echo "FAIL: $path:$line includes $target: $folder is a layer above $own" >&2
    status=1
  fi
done < <(cd "$source_dir" &&
         grep -rnoE --include='*.h' --include='*.cpp' --include='*.c' \
           '^#include "[^"]+"' src app | sed -E 's/#include "(.*)"$/\1/')
exit $status
