#!/usr/bin/env bash
# The Debian/Ubuntu packages the project needs, in two lists:
#   tools/install_deps.sh               # what building, installing and running the programs need
#   tools/install_deps.sh --dev         # that and what the tests, CI and the tools of development need
#   tools/install_deps.sh [--dev] --list   # prints the list, one package a line
# Missing packages are installed through sudo when not root. Packages already
# installed are left alone, so on a ready machine it changes nothing and
# needs no network. With --tolerant (what .ci/run uses) a machine without
# apt-get, or an install that fails, is reported and the script still
# succeeds: each step of CI then skips what it cannot do, with a message.
set -euo pipefail

# The man pages are written by CMake itself (cmake/man_page.cmake), so
# installing needs nothing more.
packages=(
    g++ make cmake            # the programs
    libpng-dev                # kestranov-preview
    libgdal-dev               # kestranov-export and kestranov-grid (with libgdal, which running needs)
)
dev_packages=(
    git                       # CI's format check lists the sources with git ls-files
    libgtest-dev              # the tests (GoogleTest)
    gdal-bin                  # gdalinfo, which the tests read the ASCII grids and GeoTIFFs with
    parallel                  # GNU parallel: the tiles plan's jobs in the tests and `make demo`
    slurm-wlm munge           # a one-machine Slurm cluster for the tiles plan's array job test
    clang libclang-rt-14-dev  # the libFuzzer targets (`make fuzz`)
    clang-tidy clang-format   # `make tidy` and the house style
    python3                   # the coverage report (tools/coverage_report.py; gcov comes with g++)
    libcgal-dev               # bench peer only: CGAL's Delaunay triangulation beside the tin band in `make bench`
    time                      # GNU time: `make bench`'s peak memory of whole runs (bench/survey.sh)
)

tolerant=0 list=0
for arg in "$@"; do
    case "$arg" in
        --dev) packages+=("${dev_packages[@]}") ;;
        --list) list=1 ;;
        --tolerant) tolerant=1 ;;
        *) echo "usage: $0 [--dev] [--list] [--tolerant]" >&2; exit 2 ;;
    esac
done
if [ "$list" = 1 ]; then
    printf '%s\n' "${packages[@]}"
    exit 0
fi

give_up() {
    echo "install_deps: $1" >&2
    [ "$tolerant" = 1 ] && exit 0
    exit 1
}

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

command -v apt-get >/dev/null 2>&1 || give_up "no apt-get here; install these by hand: ${missing[*]}"
sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
echo "install_deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# The package lists may be stale or absent on a fresh machine: update once
# only when the first attempt fails. Should the whole list still fail, each
# package is tried alone, so that one unavailable package (another release's
# name) does not keep the others out.
apt_install() { "${sudo[@]}" apt-get install -y "$@" >/dev/null 2>&1; }
apt_install "${missing[@]}" && exit 0
"${sudo[@]}" apt-get update >/dev/null 2>&1 || true
apt_install "${missing[@]}" && exit 0
failed=()
for p in "${missing[@]}"; do apt_install "$p" || failed+=("$p"); done
[ ${#failed[@]} -eq 0 ] || give_up "apt-get could not install ${failed[*]} (no network, or no such package here)"
