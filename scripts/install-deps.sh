#!/usr/bin/env bash
# Installs whichever of the packages in scripts/packages.txt are missing: with "demo" only those
# the demo needs, with "test" (the default) all of them. apt-get runs through sudo when not root.
set -euo pipefail
cd "$(dirname "$0")/.."
want="${1:-test}"
case "$want" in demo | test) ;; *) echo "usage: $0 [demo|test]" >&2; exit 2 ;; esac

missing=()
while read -r package needed_by; do
  case "$package" in '' | '#'*) continue ;; esac
  [ "$want" = demo ] && [ "$needed_by" != demo ] && continue
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done < scripts/packages.txt
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install as root: apt-get install ${missing[*]}" >&2; exit 1; }
  sudo=(sudo)
fi
echo "installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
