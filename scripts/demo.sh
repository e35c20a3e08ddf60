#!/usr/bin/env bash
# The one set-up command: installs what is missing, builds Vantrel, makes a
# demo start directory with one active index over a folder of sample images
# that it generates, and starts the server there. Ctrl-C stops it cleanly.
#
#   scripts/demo.sh            start directory: ./demo
#   VANTREL_DEMO_DIR=/srv/x scripts/demo.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
demo=${VANTREL_DEMO_DIR:-$root/demo}
build=$root/build/release
console=${VANTREL_CONSOLE:-127.0.0.1:8470}

scripts/install-deps.sh

echo "demo: building Vantrel in $build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target vantrel vantrelctl vantrel-pdftext make_sample_images

start="$demo/start"
images="$demo/images"
index="$demo/index"
pdf="$demo/pdf"
mkdir -p "$start" "$images" "$index" "$pdf"

echo "demo: writing sample images into $images"
"$build/make_sample_images" "$images"

ctl=("$build/src/tools/vantrelctl" --dir "$start")
if [ ! -f "$start/Vantrel CONFIGURATION DATA" ] || ! "${ctl[@]}" config show | grep -q "Demo"; then
  echo "demo: defining index \"Demo\" over $images"
  "${ctl[@]}" index add Demo "$index"
  "${ctl[@]}" folder add 0 "$images"
  "${ctl[@]}" index set 0 active 1
  "${ctl[@]}" pdf set --folder "$pdf"
fi
"${ctl[@]}" config show

echo
echo "demo: start directory  $start"
echo "demo: image folder     $images   (copy pictures here; they are indexed)"
echo "demo: index folder     $index   (lists in VT_DATA/VT_LISTS, searches in VT_SEARCH)"
echo "demo: console          http://$console"
echo "demo: search it from another shell, e.g."
echo "        $build/src/tools/vantrelctl search \"$index\" harbour"
echo "demo: starting the server; press Ctrl-C to stop it"
cd "$start"
exec "$build/src/tools/vantrel" --console "$console"
