# Sourced by the CI steps: install_missing PACKAGE... installs, without
# questions, those of the named Debian packages that are not installed; a
# package of another architecture (wine32:i386) has that architecture
# added first.  step TEXT prints TEXT for the log with the step's time so
# far.
step_started=$(date +%s)
step() {
  echo "${0##*/}: $* ($(($(date +%s) - step_started)) s)"
}

install_missing() {
  local missing=() package
  for package in "$@"; do
    case $(dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null) in
      *"install ok installed"*) ;;
      *) missing+=("$package") ;;
    esac
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    for package in "${missing[@]}"; do
      case $package in
        *:*) add_architecture "${package##*:}" ;;
      esac
    done
    apt-get update -q
    apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "${missing[@]}"
  fi
}

# add_architecture ARCH lets dpkg install packages of ARCH, unless it is
# the machine's own or added already; apt-get update must follow, to read
# the package lists of ARCH.
add_architecture() {
  local known
  for known in $(dpkg --print-architecture) $(dpkg --print-foreign-architectures); do
    [ "$known" != "$1" ] || return 0
  done
  dpkg --add-architecture "$1"
}
