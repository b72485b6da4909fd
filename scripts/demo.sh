#!/usr/bin/env bash
# Builds the system (preset "default" unless another is named) and shows its
# demo installation folder: the files that ship together, and what the image
# tool says about each update image.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
scripts/build.sh "$preset"

install_dir="build/$preset/demo-install"
if [ ! -f "$install_dir/setup.ini" ]; then
  echo "demo: no installation folder at $install_dir" >&2
  exit 1
fi

echo
echo "Demo installation folder: $install_dir"
(cd "$install_dir" && find . -type f -printf '%P\n' | sort | while read -r file; do
  printf '  %12d  %s\n' "$(stat -c %s "$file")" "$file"
done)

status=0
for image in "$install_dir"/images/*; do
  echo
  if ! "$install_dir/nuva-image" inspect "$image"; then
    echo "demo: Setup would refuse $image" >&2
    status=1
  fi
done
exit "$status"
