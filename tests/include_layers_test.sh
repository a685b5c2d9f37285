#!/usr/bin/env bash
# The folders form layers, lowest first; a file, in a folder or any of its
# subfolders, may include headers of its own folder and of the folders below
# it, never of one above (no folder cycles). The same holds for links: a
# folder's CMake targets link only libraries of its own folder and below.
# Prints every upward include and link and fails when there is one.
# Argument: the source tree; with --graph it prints the folder graph instead.
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

# "folder library" for every link a folder's CMakeLists.txt (or one of its
# subfolders') writes, and "library folder" for every library it declares.
cmake_files() { printf '%s\n' "$root"/*/CMakeLists.txt "$root"/*/*/CMakeLists.txt; }
declared() {
  cmake_files | while read -r file; do
    { grep -oE 'add_library\(veltrane[-_a-z0-9]+' "$file" || true; } | sed -E "s|add_library\(||; s|$| $(folder_of "$file")|"
  done
}
links() {
  cmake_files | while read -r file; do
    perl -0777 -ne 'while (/target_link_libraries\(([^)]*)\)/g) {
        my @words = split /\s+/, $1; shift @words while @words && $words[0] eq "";
        shift @words; print "$_\n" for grep { /^veltrane[-_a-z0-9]+$/ } @words }' "$file" |
      sed -E "s|^|$(folder_of "$file") |"
  done
}
folder_of() { local path=${1#"$root"/}; echo "${path%%/*}"; }

upward=0
declare -A owner
while read -r library folder; do owner[$library]=$folder; done < <(declared)
while read -r from library; do
  to=${owner[$library]:-}
  [[ -z $to || -z ${rank[$from]+set} || $from == "$to" ]] && continue
  if [[ -z ${rank[$to]+set} || ${rank[$to]} -gt ${rank[$from]} ]]; then
    echo "upward link: $from/ links $library of $to/"
    upward=1
  fi
done < <(links)
while read -r from to file; do
  [[ $from == "$to" ]] && continue
  if [[ -z ${rank[$to]+set} || ${rank[$to]} -gt ${rank[$from]} ]]; then
    echo "upward include: $from/$file includes $to/"
    upward=1
  fi
done < <(edges)
exit $upward
