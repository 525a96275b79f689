#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Renders the application icon's PNGs and the Windows .ico from the SVG.
# The results are kept in the repository, so building needs no renderer; run
# this after changing resources/icons/quelmar-communicator.svg and commit what
# it writes. Needs rsvg-convert (librsvg2-bin) and ImageMagick's convert.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ICONS=$ROOT/resources/icons
SVG=$ICONS/quelmar-communicator.svg
# The hicolor sizes a desktop looks for; the .ico carries the ones Windows uses.
SIZES=(16 22 24 32 48 64 128 256)
ICO_SIZES=(16 24 32 48 64 256)

for tool in rsvg-convert convert; do
    command -v "$tool" >/dev/null || {
        echo "render-icons: $tool is missing (apt-get install librsvg2-bin imagemagick)" >&2
        exit 1
    }
done

for size in "${SIZES[@]}"; do
    rsvg-convert --width "$size" --height "$size" --format png "$SVG" \
        --output "$ICONS/quelmar-communicator-$size.png"
done

ico_inputs=()
for size in "${ICO_SIZES[@]}"; do
    ico_inputs+=("$ICONS/quelmar-communicator-$size.png")
done
# No date chunks: the same SVG gives the same bytes, so a re-run shows no diff.
convert "${ico_inputs[@]}" -define png:exclude-chunks=date,time "$ROOT/resources/quelmar.ico"

echo "Rendered ${#SIZES[@]} PNGs and quelmar.ico from $SVG"
