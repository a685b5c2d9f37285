#!/usr/bin/env bash
# The folders form layers, lowest first; a file, in a folder or any of its
# subfolders, may include headers of its own folder and of the folders below
# it, never of one above (no folder cycles).
# Prints every upward include and fails when there is one. Argument: the
# source tree; with --graph it prints the folder graph instead.
set -euo pipefail
root=$1
layers=(platform model storage scheduler browser forms engine jobs watchdog app authoring web admin tools)
declare -A rank
for i in "${!layers[@]}"; do rank[${layers[$i]}]=$i; done

shopt -s nullglob globstar
edges() {
  for folder in "${layers[@]}"; do
    local files=("$root/$folder"/**/*.h "$root/$folder"/**/*.cpp)
    ((${#files[@]})) || continue
    { grep -HoE '^#include "[a-z_]+/' "${files[@]}" || true; } |
      sed -E "s|^$root/([a-z_]+)/([^:]+):#include \"([a-z_]+)/|\1 \3 \2|"
  done
}

if [[ ${2:-} == --graph ]]; then
  edges | awk '$1 != $2 {print $1 " -> " $2}' | sort -u
  exit 0
fi

upward=0
while read -r from to file; do
  [[ $from == "$to" ]] && continue
  if [[ -z ${rank[$to]+set} || ${rank[$to]} -gt ${rank[$from]} ]]; then
    echo "upward include: $from/$file includes $to/"
    upward=1
  fi
done < <(edges)
exit $upward
