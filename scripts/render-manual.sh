#!/usr/bin/env bash
# Renders every page of the manual to a PNG with headless Chromium (package chromium), so the
# pages can be looked at as a reader sees them: render-manual.sh [OUT] (default: manual-shots/).
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-manual-shots}")"
browser="$(command -v chromium || command -v chromium-browser || true)"
if [ -z "$browser" ]; then
  echo "render-manual.sh: chromium is not installed (apt-get install -y chromium)" >&2
  exit 1
fi
for page in resources/Help/*/*.html; do
  language="$(basename "$(dirname "$page")")"
  mkdir -p "$out/$language"
  "$browser" --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1000,3000 \
    --screenshot="$out/$language/$(basename "$page" .html).png" "file://$PWD/$page" 2>/dev/null
done
echo "Pages rendered in $out"
