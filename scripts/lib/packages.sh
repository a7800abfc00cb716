# The Debian packages that building and testing need, and their install.

sentory_packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  libgtest-dev googletest
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 socat faketime libevt-utils
)

# Installs the missing packages when run as root; otherwise names them and
# fails.
ensure_packages() {
  local missing=() p
  for p in "${sentory_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$p")
  done
  [ "${#missing[@]}" -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages; install them as root with:" >&2
    echo "  apt-get install --no-install-recommends ${missing[*]}" >&2
    return 1
  fi
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >/dev/null &&
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null ||
    { echo "apt-get could not install: ${missing[*]}" >&2; return 1; }
}
