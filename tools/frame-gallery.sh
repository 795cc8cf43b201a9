#!/usr/bin/env bash
# Draws the picture of the built-in frames for the README: every built-in frame put around a
# landscape and a portrait photo by the batch framer, laid out in one sheet per orientation
# and joined into one image.
#   tools/frame-gallery.sh [LANDSCAPE PORTRAIT]
# Without photos, two colourful stand-ins are made. Environment: BUILD (the build folder with
# velluma-frame, default build), OUT (default docs/builtin-frames.jpg), SIZE (the long side
# the photos are framed at, default 3000; the sheet shows each TILE pixels long, default
# 300).
# Needs ImageMagick (convert, montage) for the stand-ins and the sheet.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD:-build}
out=${OUT:-docs/builtin-frames.jpg}
size=${SIZE:-3000}
tile=${TILE:-300}
framer="$build/src/cli/velluma-frame"
[ -x "$framer" ] || framer=$(find "$build" -type f -name velluma-frame -perm -u+x | head -n 1)
if [ -z "$framer" ] || [ ! -x "$framer" ]; then
  echo "no velluma-frame under $build: cmake --build $build --target velluma-frame" >&2
  exit 1
fi
for tool in convert montage; do
  command -v "$tool" >/dev/null || { echo "$tool (ImageMagick) is needed" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
short=$((size * 2 / 3))
if [ $# -ge 2 ]; then
  convert "$1" -auto-orient -resize "${size}x${size}" "$work/landscape.jpg"
  convert "$2" -auto-orient -resize "${size}x${size}" "$work/portrait.jpg"
else
  convert -size "${size}x${short}" -seed 7 plasma:steelblue-orange -blur 0x4 "$work/landscape.jpg"
  convert -size "${short}x${size}" -seed 11 plasma:seagreen-khaki -blur 0x4 "$work/portrait.jpg"
fi

root=resources/borders
# Collections in their listed order, frames in name order as the frame panel shows them.
mapfile -t collections < <(sed -n 's:.*<string>\(.*\)</string>.*:\1:p' "$root/collections.plist" |
  sed 's/&amp;/\&/g')
frames=()
for collection in "${collections[@]}"; do
  while IFS= read -r -d '' file; do
    name=$(basename "$file")
    case "$name" in
    *_postmask* | *_frame.plist | .*) continue ;;
    esac
    frames+=("$file")
  done < <(find "$root/$collection" -maxdepth 1 -type f -print0 | sort -z)
done

for orientation in landscape portrait; do
  if [ "$orientation" = landscape ]; then
    geometry="${tile}x$((tile * 2 / 3))"
  else
    geometry="$((tile * 2 / 3))x${tile}"
  fi
  tiles=()
  for frame in "${frames[@]}"; do
    name=$(basename "${frame%.*}")
    dir="$work/$orientation/$name"
    mkdir -p "$dir"
    if ! "$framer" -f "$frame" -q 92 -o "$dir" "$work/$orientation.jpg" >/dev/null; then
      echo "could not frame $orientation photo with $frame" >&2
      exit 1
    fi
    # Shrunk one by one: ImageMagick's default limits refuse dozens of full-size pictures.
    convert "$dir/$orientation.jpg" -resize "$geometry" "$dir/tile.png"
    tiles+=(-label "$name" "$dir/tile.png")
  done
  montage "${tiles[@]}" -geometry "$geometry+8+8" -tile 7x -background '#d8d8d8' \
    -pointsize 14 "$work/$orientation-sheet.png"
done

mkdir -p "$(dirname "$out")"
convert "$work/landscape-sheet.png" "$work/portrait-sheet.png" -background '#d8d8d8' -append \
  -quality 85 "$out"
echo "$out: ${#frames[@]} frames; in the README: ![The built-in frames]($out)"
