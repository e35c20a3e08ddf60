#!/bin/bash
# Browser tests of the web console: starts a real vantrel over generated
# sample images and drives the page with Chromium (playwright-core).
#   tests/browser/run.sh BUILD-DIR
# Exit status 77 (ctest: skipped) when Chromium or the npm packages are
# missing (scripts/install-deps.sh installs both).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?give the build folder}" && pwd)
chromium=${VT_CHROMIUM:-/usr/bin/chromium}
if [ ! -x "$chromium" ]; then
  echo "SKIP: no Chromium at $chromium (scripts/install-deps.sh installs it)"
  exit 77
fi
if [ ! -d "$here/node_modules/playwright-core" ] || ! command -v node >/dev/null; then
  echo "SKIP: node or tests/browser/node_modules missing (run scripts/install-deps.sh)"
  exit 77
fi
export VT_SERVER=$build/src/tools/vantrel
export VT_CTL=$build/src/tools/vantrelctl
export VT_SAMPLES=$build/make_sample_images
export VT_ARTEFACTS=${VT_ARTEFACTS:-$build/browser-artefacts}
for f in "$VT_SERVER" "$VT_CTL" "$VT_SAMPLES"; do
  [ -x "$f" ] || { echo "missing $f: build vantrel, vantrelctl and make_sample_images first"; exit 1; }
done
exec node "$here/console_flows.mjs"
