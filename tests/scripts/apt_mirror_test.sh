#!/bin/sh
# A package mirror in the middle of a sync makes apt-get update fail. Setup and
# the virtual machine's preparation retry it, go on with the package lists
# there are when they offer every package needed, and otherwise fail naming the
# package and the index that could not be fetched. A current cache of the
# virtual machine needs no apt-get at all, and old entries are pruned unless a
# running machine holds them:
#   apt_mirror_test.sh SOURCE_DIR
# Runs copies of the real scripts in a scratch tree, with stand-ins early on the
# PATH: apt-get, whose update fails as an out-of-step mirror does (once, or
# always) and whose install and download only record their call; dpkg-query,
# which reports the packages of STANDIN_MISSING as not installed. Plans
# (apt-get -s) go to the real apt-get, which only reads; npm, which records
# its call. The machine's package state is never touched, and its virtual
# machine's cache neither.
test_name=apt_mirror_test
# shellcheck source-path=SCRIPTDIR source=harness.sh
. "$(dirname "$0")/harness.sh"
show=calls

src="$tmp/src"
mkdir -p "$src/scripts/vm" "$tmp/bin"
cp "$source_dir/scripts/setup.sh" "$source_dir/scripts/apt.sh" "$source_dir/scripts/wine32-probe.sh" "$src/scripts/"
mkdir -p "$src/web"
cp "$source_dir/web/package.json" "$source_dir/web/package-lock.json" "$src/web/"
for file in prepare.sh cache.sh init guest.sh modules; do
  cp "$source_dir/scripts/vm/$file" "$src/scripts/vm/"
done
real_apt_get=$(command -v apt-get)
real_dpkg_query=$(command -v dpkg-query)

cat >"$tmp/bin/apt-get" <<EOF
#!/bin/sh
echo "apt-get \$*" >>"$tmp/calls"
for word in "\$@"; do
  case "\$word" in
    update)
      tries=\$(grep -c '^apt-get .*update' "$tmp/calls")
      if [ "\$STANDIN_UPDATE" = always ] || [ "\$tries" -eq 1 ]; then
        echo "Err:7 http://deb.debian.org/debian-security bookworm-security/main i386 Packages"
        echo "  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 151.101.2.132 80]"
        echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 151.101.2.132 80]" >&2
        echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
        exit 100
      fi
      exit 0
      ;;
    -s) exec "$real_apt_get" "\$@" ;;
    install | download) exit 0 ;;
  esac
done
exit 99
EOF
cat >"$tmp/bin/npm" <<EOF
#!/bin/sh
echo "npm \$*" >>"$tmp/calls"
mkdir -p node_modules
EOF
cat >"$tmp/bin/dpkg-query" <<EOF
#!/bin/sh
for word in "\$@"; do
  case " \$STANDIN_MISSING " in *" \$word "*) exit 1 ;; esac
done
exec "$real_dpkg_query" "\$@"
EOF
# The preparation asks only that these exist before it reaches apt-get.
for tool in qemu-system-x86_64 busybox; do
  printf '#!/bin/sh\nexit 99\n' >"$tmp/bin/$tool"
done
chmod +x "$tmp/bin/"*

# standins UPDATE MISSING COMMAND...: runs the command in the scratch tree
# with the stand-ins, the update failing UPDATE ("once" or "always") and the
# packages MISSING reported as not installed.
standins() {
  update="$1" standin_missing="$2"
  shift 2
  rm -f "$tmp/calls"
  touch "$tmp/calls"
  run -C "$src" env PATH="$tmp/bin:$PATH" STANDIN_UPDATE="$update" STANDIN_MISSING="$standin_missing" \
    VESTRIX_APT_PAUSE=0 XDG_CACHE_HOME="$tmp/cache" VESTRIX_NO_WINE32=1 "$@"
}
updates() { grep -c '^apt-get .*update' "$tmp/calls" || true; }

# Installed packages stand for missing ones: the real plan finds them.
missing="cmake xauth"
index=binary-i386/Packages.xz

# The first update fails.
standins once "$missing" scripts/setup.sh
expect "setup retries a failed update" test "$status" -eq 0 -a "$(updates)" -eq 2
expect "setup installs after the retry" grep -q '^apt-get install .*cmake xauth' "$tmp/calls"
expect "setup installs the npm packages of the lock file" grep -q '^npm ci' "$tmp/calls"

# Every update fails.
standins always "$missing" scripts/setup.sh
expect "setup goes on when the lists offer the packages" test "$status" -eq 0 -a "$(updates)" -eq 3
expect "setup names the index it could not fetch" grep -q "could not fetch: .*$index" "$tmp/out"
expect "setup installs from the lists there are" grep -q '^apt-get install .*cmake xauth' "$tmp/calls"
expect "setup leaves the npm packages alone once installed" test "$(grep -c '^npm' "$tmp/calls")" -eq 0

# A setup whose list holds a package that no list offers.
sed 's/^packages="cmake /packages="cmake vestrix-no-such-package /' "$src/scripts/setup.sh" >"$src/scripts/setup-more.sh"
standins always "cmake vestrix-no-such-package" sh scripts/setup-more.sh
expect "setup fails for a package it cannot have" test "$status" -ne 0
expect "setup names that package" grep -q 'Unable to locate package vestrix-no-such-package' "$tmp/err"
expect "setup names the index behind it" grep -q "could not fetch: .*$index" "$tmp/err"
expect "setup installs nothing then" test "$(grep -c '^apt-get install' "$tmp/calls")" -eq 0

# The virtual machine's preparation with an empty cache and an update that
# always fails: its private lists offer nothing, so it fails before any
# download, naming 32-bit Wine and the index.
standins always "" scripts/vm/prepare.sh --wine32
expect "prepare fails without the packages" test "$status" -ne 0
expect "prepare names 32-bit Wine" grep -q "wine32:i386" "$tmp/err"
expect "prepare names the index" grep -q "could not fetch: .*$index" "$tmp/err"
expect "prepare downloads nothing then" test "$(grep -c '^apt-get .*download' "$tmp/calls")" -eq 0

# A current cache: no apt-get at all. An entry of other inputs unused for a
# week goes, unless a running machine holds it (as run.sh does, shared).
here="$src/scripts/vm"
XDG_CACHE_HOME="$tmp/cache"
. "$here/cache.sh"
mkdir -p "$vm_packages" "$vm_cache_root/packages-old" "$vm_cache_root/packages-held"
touch "$vm_packages/.ready" "$vm_initramfs"
touch -d '10 days ago' "$vm_cache_root/packages-old/.ready" "$vm_cache_root/packages-held/.ready"
mkfifo "$tmp/hold"
flock -s "$vm_cache_root/packages-held/.ready" sh -c "touch '$tmp/held' && cat '$tmp/hold'" >/dev/null &
holder=$!
until [ -e "$tmp/held" ]; do sleep 0.1; done
standins always "" scripts/vm/prepare.sh
echo >"$tmp/hold"
wait "$holder" || true
expect "prepare takes a current cache as it is" test "$status" -eq 0 -a ! -s "$tmp/calls"
expect "prepare keeps the current entry" test -f "$vm_packages/.ready" -a -f "$vm_initramfs"
expect "prepare prunes an old entry" test ! -e "$vm_cache_root/packages-old"
expect "prepare keeps an old entry a machine holds" test -d "$vm_cache_root/packages-held"
finish
