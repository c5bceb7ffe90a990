#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
# Silent when everything is there, so the other scripts can call it each time.
set -euo pipefail

packages=(
  qt6-base-dev qt6-base-dev-tools libmpg123-dev libout123-0 mpg123 libpulse-dev
  xvfb xauth x11-utils xdotool imagemagick at-spi2-core python3-pyatspi python3-dbusmock dbus-x11
  pulseaudio pulseaudio-utils sox libsox-fmt-mp3 lame fonts-wqy-zenhei fonts-arphic-uming libgtest-dev libx11-dev
  qt6-translations-l10n openbox libxtst-dev cmake ninja-build g++ pkg-config locales libglib2.0-bin
  python3-fusepy fuse3 qt6-gtk-platformtheme qt6-wayland mutter xwayland xsettingsd
)

# dpkg-query names only known packages, and a removed one stays known with a
# status other than "ii", so both cases count as missing.
installed=$(dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' "${packages[@]}" 2>/dev/null |
  awk '$1 == "ii" { print $2 }' || true)
missing=()
for p in "${packages[@]}"; do
  grep -qxF -- "$p" <<<"$installed" || missing+=("$p")
done
((${#missing[@]} == 0)) && exit 0

if ((EUID != 0)); then
  echo "Missing packages. Install them with:" >&2
  echo "sudo apt-get update && sudo DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ${missing[*]}"
  exit 1
fi

echo "deps.sh: installing ${missing[*]}" >&2
apt-get update
DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}" </dev/null
