#!/usr/bin/env bash
# Installs Unicorn 2.1 (Debian 13's libunicorn-dev and libunicorn2t64) on
# Debian 12, and nothing else from Debian 13.
#
# Why: Debian 12's Unicorn 2.0.1 drops translated code on every guest store,
# which makes store-heavy guest code 10 to 60 times slower than qemu-i386;
# 2.1 fixed that. Both packages depend only on libc6 >= 2.34.
#
# How: the two packages are fetched with `apt-get download` under a private
# apt configuration (its own source list, package lists and cache) in a
# fresh directory only root can reach (mktemp -d, mode 0700), removed at the
# end. The archive is the one the system's own sources name for its Debian
# release (a local mirror stays in use), with Debian 13's suite. Exactly the
# files apt-get named are installed, once each is checked to be the package
# and version it announced, with the system's apt. The system's sources and
# pins are never touched, so later `apt-get upgrade`s see only Debian 12. A
# second run finds 2.1 installed and asks the network nothing.
#
# Undo: apt-get install --allow-downgrades libunicorn-dev/bookworm
#   (or apt-get remove libunicorn-dev libunicorn2t64).
#
# Usage: unicorn-deps.sh
set -euo pipefail

readonly suite=trixie
readonly packages=(libunicorn2t64 libunicorn-dev)
readonly wanted=2.1

fail() { echo "unicorn-deps.sh: $*" >&2; exit 1; }

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

# The archive the system's sources name for the main component of its own
# release (deb822 or one-line sources alike: apt reads them).
debian_archive() {
    local release
    release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [ -n "$release" ] || fail "/etc/os-release names no release"
    apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 'Identifier: Packages' |
        awk -v release="$release" '$2 == release && $3 == "main" { print $1; exit }'
}

up_to_date && exit 0

if [ "$(id -u)" != 0 ]; then
    echo "Unicorn $wanted (Debian 13's ${packages[*]}) is missing. Run as root:"
    echo "  $0"
    exit 1
fi

archive=$(debian_archive)
[ -n "$archive" ] || fail "the apt sources name no archive for this Debian release's main component"
work=$(mktemp -d)  # mode 0700, root's: nobody else can add or change a file in it
trap 'rm -rf "$work"' EXIT
apt_dir=$work/apt
debs_dir=$work/debs
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/preferences.d" "$debs_dir"
echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $archive $suite main" > "$apt_dir/sources.list"
private=(-q -o "Dir::Etc::SourceList=$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null
         -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
         -o Dir::Etc::Preferences=/dev/null -o "Dir::Etc::PreferencesParts=$apt_dir/preferences.d"
         -o Dir::State::status=/dev/null -o APT::Sandbox::User=root)

echo "Fetching ${packages[*]} from Debian 13 ($suite) at $archive"
apt-get "${private[@]}" update > /dev/null
# Each package's file, as apt names it: 'URI' FILE SIZE HASH.
mapfile -t files < <(cd "$debs_dir" && apt-get "${private[@]}" --print-uris download "${packages[@]}" | awk '{ print $2 }')
[ "${#files[@]}" = "${#packages[@]}" ] || fail "apt-get named ${#files[@]} files for ${#packages[@]} packages"
(cd "$debs_dir" && apt-get "${private[@]}" download "${packages[@]}")
# Each file must hold one of the packages, each once, at a version new enough.
debs=()
seen=" "
for file in "${files[@]}"; do
    deb=$debs_dir/$file
    [ -f "$deb" ] || fail "apt-get did not fetch $file"
    name=$(dpkg-deb -f "$deb" Package)
    version=$(dpkg-deb -f "$deb" Version)
    [[ " ${packages[*]} " == *" $name "* && "$seen" != *" $name "* ]] || fail "$file holds $name, not one of ${packages[*]}"
    dpkg --compare-versions "$version" ge "$wanted" || fail "$file holds $name $version, older than $wanted"
    seen+="$name "
    debs+=("$deb")
done
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${debs[@]}"
up_to_date || fail "Unicorn $wanted did not install"
