# Sourced by the CI steps: install_missing PACKAGE... installs, without
# questions, those of the named Debian packages that are not installed;
# step TEXT prints TEXT for the log with the step's time so far.
step_started=$(date +%s)
step() {
  echo "${0##*/}: $* ($(($(date +%s) - step_started)) s)"
}

install_missing() {
  local missing=() package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "${missing[@]}"
  fi
}
