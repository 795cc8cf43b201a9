#!/usr/bin/env bash
# Runs clang-tidy (checks in .clang-tidy) over every .cpp file of src/, with the flags of
# the build in build/ (compile_commands.json), one file per core at a time. Exits non-zero
# when any file has a finding. Needs a finished build: moc and uic output must exist.
#
#   tools/run-clang-tidy.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd -P)
build=${1:-build}
database="$build/compile_commands.json"

tidy=$(command -v clang-tidy-14 || command -v clang-tidy || true)
if [ -z "$tidy" ]; then
  echo "run-clang-tidy: clang-tidy not found (tools/setup.sh installs it)" >&2
  exit 1
fi
if [ ! -f "$database" ]; then
  echo "run-clang-tidy: $database missing; build first (make build)" >&2
  exit 1
fi

# The files the build compiles, not whatever lies in src/: the database knows their flags.
mapfile -t files < <(grep -o '"file": "[^"]*"' "$database" | sed 's/^"file": "//; s/"$//' |
                     grep "^$root/src/.*\.cpp$" | sort -u)
if [ ${#files[@]} -eq 0 ]; then
  echo "run-clang-tidy: no src/ files in $database" >&2
  exit 1
fi

logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

# The build's precompiled headers are GCC's, which clang cannot read; without them every file
# also shows that it includes what it uses.
mkdir "$logs/db"
sed -e 's| -Winvalid-pch -include [^ ]*cmake_pch[^ ]*\.hxx||g' -e 's| -fpch-preprocess||g' \
  "$database" >"$logs/db/compile_commands.json"

jobs=$(nproc 2>/dev/null || echo 2)
start=$SECONDS
# Each file's report goes to its own log so parallel output does not interleave. -Wno-error:
# the build's -Werror is meant for GCC, and clang's own warnings are not findings here.
printf '%s\0' "${files[@]}" |
  xargs -0 -P "$jobs" -I{} sh -c '
    log="$1/$(echo "$2" | tr / _).log"
    "$3" -p "$4" --quiet --extra-arg=-Wno-error "$2" >"$log" 2>&1 || mv "$log" "$log.failed"
  ' sh "$logs" {} "$tidy" "$logs/db"

failed=("$logs"/*.failed)
if [ -e "${failed[0]}" ]; then
  for log in "${failed[@]}"; do
    cat "$log"
  done
  echo "run-clang-tidy: findings in ${#failed[@]} of ${#files[@]} files" \
       "($((SECONDS - start)) s)" >&2
  exit 1
fi
echo "run-clang-tidy: ${#files[@]} files clean ($((SECONDS - start)) s)"
