# Sourced by the build scripts: require_packages PACKAGE... installs the Debian packages that
# are missing when this runs as root, and otherwise names them and fails.
require_packages() {
  local missing=() package
  for package in "$@"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
  done
  ((${#missing[@]})) || return 0
  if [ "$(id -u)" = 0 ]; then
    echo "installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  else
    echo "missing Debian packages: ${missing[*]}; install them (or run this as root)" >&2
    exit 1
  fi
}
