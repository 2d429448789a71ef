# shellcheck shell=bash
# Sourced by the scripts that need Debian packages:
#   as_root CMD...        runs CMD as root (through sudo when not root)
#   apt_missing PKG...    prints the packages of the list that are not installed
#   apt_ensure TAG PKG... installs the missing ones, telling which under TAG;
#                         returns non-zero, with a line on standard error, when
#                         the install fails
# Waits for another apt or dpkg run to finish instead of failing on its lock.

as_root() { if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi; }

apt_missing() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

apt_ensure() {
  local tag=$1
  shift
  local missing
  mapfile -t missing < <(apt_missing "$@")
  ((${#missing[@]})) || return 0
  echo "$tag: installing ${missing[*]}"
  local lock=(-o DPkg::Lock::Timeout=600)
  if ! as_root apt-get "${lock[@]}" update -qq ||
     ! as_root env DEBIAN_FRONTEND=noninteractive apt-get "${lock[@]}" install -y -qq \
         --no-install-recommends "${missing[@]}"; then
    echo "$tag: could not install ${missing[*]}" >&2
    return 1
  fi
}
