#!/usr/bin/env bash
# Installs Unicorn 2.1 (Debian 13's libunicorn-dev and libunicorn2t64) on
# Debian 12, and nothing else from Debian 13.
#
# Why: Debian 12's Unicorn 2.0.1 drops translated code on every guest store,
# which makes store-heavy guest code 10 to 60 times slower than qemu-i386;
# 2.1 fixed that. Both packages depend only on libc6 >= 2.34.
#
# How: the two packages are fetched with `apt-get download` under a private
# apt configuration (its own source list, package lists and cache, all in
# DEPS_DIR), then installed from those files with the system's apt. The
# system's sources and pins are never touched, so later `apt-get upgrade`s
# see only Debian 12. A second run finds 2.1 installed and asks the network
# nothing.
#
# Undo: apt-get install --allow-downgrades libunicorn-dev/bookworm
#   (or apt-get remove libunicorn-dev libunicorn2t64), then rm -rf DEPS_DIR.
#
# Usage: unicorn-deps.sh DEPS_DIR
set -euo pipefail

deps_dir=${1:?usage: unicorn-deps.sh DEPS_DIR}
readonly suite=trixie
readonly packages=(libunicorn2t64 libunicorn-dev)
readonly wanted=2.1

installed_version() {
    dpkg-query -W -f='${db:Status-Status} ${Version}\n' "$1" 2>/dev/null | awk '$1 == "installed" { print $2 }'
}

up_to_date() {
    local p v
    for p in "${packages[@]}"; do
        v=$(installed_version "$p")
        [ -n "$v" ] && dpkg --compare-versions "$v" ge "$wanted" || return 1
    done
}

up_to_date && exit 0

if [ "$(id -u)" != 0 ]; then
    echo "Unicorn $wanted (Debian 13's ${packages[*]}) is missing. Run as root:"
    echo "  $0 $deps_dir"
    exit 1
fi

mkdir -p "$deps_dir"
deps_dir=$(cd "$deps_dir" && pwd)  # apt reads relative Dir:: paths below /etc/apt
apt_dir=$deps_dir/apt
debs_dir=$deps_dir/debs
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/preferences.d" "$debs_dir"
echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian $suite main" \
    > "$apt_dir/sources.list"
private=(-q -o "Dir::Etc::SourceList=$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null
         -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
         -o Dir::Etc::Preferences=/dev/null -o "Dir::Etc::PreferencesParts=$apt_dir/preferences.d"
         -o Dir::State::status=/dev/null -o APT::Sandbox::User=root)

echo "Fetching ${packages[*]} from Debian 13 ($suite) into $debs_dir"
apt-get "${private[@]}" update > /dev/null
(cd "$debs_dir" && rm -f ./*.deb && apt-get "${private[@]}" download "${packages[@]}")
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$debs_dir"/*.deb
up_to_date || { echo "unicorn-deps.sh: Unicorn $wanted did not install" >&2; exit 1; }
