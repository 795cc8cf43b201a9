#!/usr/bin/env bash
# Builds the libFuzzer harnesses of tests/fuzz with clang in their own build folder and runs
# each for a fixed time.
#   tools/fuzz.sh [SECONDS] [HARNESS...]    SECONDS per harness, 60 when not given;
#                                           harnesses: photo phonephoto compositing propertylist
#                                           destinations appcast
# Every input that makes a harness fail (crash, sanitizer report, timeout, memory limit) is
# copied to tests/data/fuzz/<harness>/, where test_fuzzregression replays it in every
# `make test`: commit it together with the fix. Exit status 1 when anything was found.
# The corpus grows in $FUZZ_BUILD/corpus between runs and is not kept in the repository.
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
  harnesses=(photo compositing propertylist destinations appcast phonephoto)
fi
build=${FUZZ_BUILD:-build-fuzz}
jobs=${JOBS:-2}

export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DVELLUMA_FUZZ=ON >/dev/null || exit 2
cmake --build "$build" -j "$jobs" --target "${harnesses[@]/#/fuzz_}" || exit 2

export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"

# A few real files to start from; the fuzzer mutates them.
seed() {
  local harness=$1 dir=$2
  mkdir -p "$dir"
  case $harness in
    photo)
      find resources/borders -type f -size -48k \( -name '*.png' -o -name '*.jpg' \) |
        head -n 12 | while IFS= read -r f; do cp "$f" "$dir/$(basename "$f" | tr ' &' '__')"; done ;;
    propertylist)
      cp resources/FactoryDefaults.plist resources/borders/collections.plist "$dir/" ;;
    destinations)
      cp resources/FactoryDefaults.plist tests/data/fuzz/destinations/* "$dir/" ;;
    appcast)
      cp tests/data/fuzz/appcast/* "$dir/" ;;
    phonephoto)
      cp tests/data/fuzz/phonephoto/* "$dir/" ;;
  esac
}

found=0
for harness in "${harnesses[@]}"; do
  corpus=$build/corpus/$harness
  artifacts=$build/artifacts/$harness
  kept=tests/data/fuzz/$harness
  mkdir -p "$corpus" "$artifacts"
  [ -n "$(ls -A "$corpus")" ] || seed "$harness" "$corpus"
  extra=()
  [ "$harness" = photo ] || [ "$harness" = phonephoto ] && extra=(-max_len=65536)
  echo "== fuzz_$harness for ${seconds} s"
  "$build/tests/fuzz/fuzz_$harness" "$corpus" -max_total_time="$seconds" -timeout=30 \
    -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$artifacts/" "${extra[@]}" \
    2>&1 | grep -v -E '^(libpng (error|warning)|Corrupt JPEG data|Premature end of JPEG)' |
    tail -n 60
  status=${PIPESTATUS[0]}
  for artifact in "$artifacts"/*; do
    [ -e "$artifact" ] || continue
    mkdir -p "$kept"
    cp "$artifact" "$kept/"
    echo "kept $kept/$(basename "$artifact")"
    rm -f "$artifact"
    found=1
  done
  if [ "$status" -ne 0 ]; then
    echo "fuzz_$harness: exit status $status"
    found=1
  fi
done
exit $found
