#!/bin/sh
# Prepares the small virtual machine in which 32-bit Wine runs on a machine
# whose kernel refuses 32-bit programs:
#   scripts/vm32/prepare.sh
# Everything comes from Debian's packages and goes into build/vm32/cache: the
# distribution's own amd64 kernel (its 32-bit emulation is on), an initramfs
# made of busybox-static and the few modules the guest needs to mount its
# shares, and a tree of the i386 packages that 32-bit Wine needs, unpacked
# without touching the host's package database. It is made once, and made
# again when its inputs change: these scripts, the host's Wine (whose 32-bit
# half must be the same version) and busybox. Prints nothing when the cache is
# current; otherwise one line for each stage. Needs the network (apt-get) only
# when it makes the cache. See scripts/vm32/run.sh for the machine itself.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
cache="$top/build/vm32/cache"
mkdir -p "$cache"

say() { echo "vm32: $*"; }
fail() {
  echo "vm32: cannot prepare the virtual machine: $*" >&2
  exit 1
}

for tool in qemu-system-x86_64:qemu-system-x86 busybox:busybox-static dpkg-deb:dpkg apt-get:apt flock:util-linux; do
  command -v "${tool%%:*}" >/dev/null 2>&1 ||
    fail "${tool%%:*} is missing (Debian package ${tool#*:}; scripts/setup.sh installs it)"
done

# What the cache is made from. The kernel and the i386 packages are whatever
# Debian offers when the cache is made; the Wine tree is tied to the host's
# Wine version through its key. The initramfs has a key of its own, so that a
# change to the guest's scripts does not fetch the packages again.
installed() { dpkg-query -W -f='${Package}=${Version}\n' "$@" 2>/dev/null || true; }
packages_key=$({
  installed wine libwine
  cat "$here/prepare.sh"
} | sha256sum | cut -d' ' -f1)
initramfs_key=$({
  echo "$packages_key"
  installed busybox-static
  cat "$here/init" "$here/guest.sh"
} | sha256sum | cut -d' ' -f1)

# One preparation at a time; a second caller waits for the first and then
# finds the cache current.
exec 9>"$cache/.lock"
flock 9
current() { [ -f "$cache/$1" ] && [ "$(cat "$cache/$1")" = "$2" ]; }
if current packages.key "$packages_key" && current initramfs.key "$initramfs_key"; then
  exit 0
fi

# make_packages: the Wine tree, the kernel and its modules, from Debian.
make_packages() {
  host_wine=$(dpkg-query -W -f='${Version}' wine 2>/dev/null) ||
    fail "the host's Wine is not installed (scripts/setup.sh installs it)"

  # A private APT setup that knows the i386 architecture, with its own package
  # lists and a copy of the host's package database without its i386 packages:
  # the host's dpkg is never changed, and the same i386 packages are chosen
  # whether or not the host has 32-bit Wine installed.
  apt="$cache/apt"
  rm -rf "$apt"
  mkdir -p "$apt/lists/partial" "$apt/archives/partial"
  awk 'BEGIN { RS = ""; ORS = "\n\n" } !/\nArchitecture: i386\n/' /var/lib/dpkg/status >"$apt/status"
  cat >"$apt/apt.conf" <<EOF
APT::Architectures { "amd64"; "i386"; };
APT::Install-Recommends "false";
Dir::State "$apt";
Dir::State::Lists "$apt/lists";
Dir::State::status "$apt/status";
Dir::Cache "$apt";
Dir::Cache::Archives "$apt/archives";
Debug::NoLocking "true";
EOF
  APT_CONFIG="$apt/apt.conf"
  export APT_CONFIG
  say "reading Debian's package lists (amd64 and i386)"
  apt-get -qq update >"$apt/update.log" 2>&1 || fail "apt-get update failed; see $apt/update.log"

  # The packages 32-bit Wine adds to this machine, as name=version; the Wine
  # packages themselves at the host's version.
  apt-get -s install "wine32:i386=$host_wine" "wine32-preloader:i386=$host_wine" >"$apt/plan.log" 2>&1 ||
    fail "apt-get cannot plan the 32-bit Wine packages; see $apt/plan.log"
  sed -n 's/^Inst \([^ ]*\) \(\[[^]]*\] \)\{0,1\}(\([^ ]*\) .*/\1=\3/p' "$apt/plan.log" >"$apt/packages"
  grep -q '^wine32:i386=' "$apt/packages" || fail "no wine32:i386 in apt-get's plan; see $apt/plan.log"

  # The kernel: the one linux-image-amd64 points to now.
  kernel_package=$(apt-cache depends linux-image-amd64 | sed -n 's/^ *Depends: \(linux-image-[0-9].*-amd64\)$/\1/p' | head -n 1)
  [ -n "$kernel_package" ] || fail "apt-cache names no kernel behind linux-image-amd64"
  kernel_version=${kernel_package#linux-image-}

  say "downloading $(wc -l <"$apt/packages") i386 packages and $kernel_package"
  debs="$cache/debs"
  rm -rf "$debs"
  mkdir -p "$debs"
  # shellcheck disable=SC2046  # one word per package
  (cd "$debs" && apt-get -qq download "$kernel_package" $(cat "$apt/packages")) >"$apt/download.log" 2>&1 ||
    fail "apt-get download failed; see $apt/download.log"

  # The Wine tree. Debian's /lib, /bin and /sbin are links into /usr; a real
  # directory of that name in the tree would hide the host's link inside the
  # guest, so their contents move under /usr.
  say "unpacking the 32-bit Wine tree"
  tree="$cache/wine32"
  rm -rf "$tree"
  mkdir -p "$tree"
  for deb in "$debs"/*.deb; do
    case "$deb" in */linux-image-*) continue ;; esac
    dpkg-deb -x "$deb" "$tree"
  done
  for dir in bin sbin lib lib32 lib64 libx32; do
    if [ -d "$tree/$dir" ] && [ ! -L "$tree/$dir" ]; then
      mkdir -p "$tree/usr/$dir"
      cp -a "$tree/$dir/." "$tree/usr/$dir/"
      rm -rf "${tree:?}/$dir"
    fi
  done
  # What the package libwine does when it is configured, since no maintainer
  # script runs here: Wine's zlib1.dll is the MinGW build of zlib marked as a
  # Wine builtin DLL (16 bytes at offset 64, then 16 zero bytes).
  zlib=$tree/usr/i686-w64-mingw32/lib/zlib1.dll
  [ -f "$zlib" ] || zlib=/usr/i686-w64-mingw32/lib/zlib1.dll
  [ -f "$zlib" ] || fail "no 32-bit zlib1.dll for Wine (package libz-mingw-w64)"
  out="$tree/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll"
  {
    head -c 64 "$zlib"
    printf 'Wine builtin DLL'
    head -c 16 /dev/zero
    tail -c +97 "$zlib"
  } >"$out"
  [ -x "$tree/usr/lib/wine/wine" ] || fail "the unpacked tree has no /usr/lib/wine/wine"

  # The kernel, and the modules that mount the shares with everything they
  # depend on (from modules.dep).
  say "unpacking the kernel ($kernel_version)"
  kernel="$cache/kernel"
  rm -rf "$kernel" "$cache/modules"
  mkdir -p "$kernel" "$cache/modules/lib/modules/$kernel_version"
  dpkg-deb -x "$debs/${kernel_package}_"*.deb "$kernel"
  cp "$kernel/boot/vmlinuz-$kernel_version" "$cache/vmlinuz"
  busybox depmod -b "$kernel" "$kernel_version"
  modules=$(awk -v want="virtio_pci 9pnet_virtio 9p overlay" '
    BEGIN { n = split(want, w, " "); for (i = 1; i <= n; i++) wanted[w[i]] = 1 }
    {
      name = $1; sub(/:$/, "", name); base = name; sub(/.*\//, "", base); sub(/\.ko.*$/, "", base)
      if (base in wanted) { print name; for (i = 2; i <= NF; i++) print $i }
    }' "$kernel/lib/modules/$kernel_version/modules.dep" | sort -u)
  for wanted in virtio_pci 9pnet_virtio 9p overlay; do
    echo "$modules" | grep -q "/$wanted\.ko" || fail "the kernel's modules.dep lacks the module $wanted"
  done
  for module in $modules; do
    mkdir -p "$cache/modules/lib/modules/$kernel_version/$(dirname "$module")"
    cp "$kernel/lib/modules/$kernel_version/$module" "$cache/modules/lib/modules/$kernel_version/$module"
  done
  rm -rf "$kernel" "$debs"
}

# make_initramfs: the initramfs: busybox, the modules, and the guest's two stages
# (scripts/vm32/init, then scripts/vm32/guest.sh in its root).
make_initramfs() {
  say "making the initramfs"
  initramfs="$cache/initramfs.tree"
  rm -rf "$initramfs"
  mkdir -p "$initramfs/bin"
  cp -a "$cache/modules/." "$initramfs/"
  kernel_version=$(ls "$initramfs/lib/modules")
  busybox depmod -b "$initramfs" "$kernel_version"
  cp "$(command -v busybox)" "$initramfs/bin/busybox"
  cp "$here/init" "$initramfs/init"
  cp "$here/guest.sh" "$initramfs/guest.sh"
  chmod +x "$initramfs/init" "$initramfs/guest.sh"
  (cd "$initramfs" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1) >"$cache/initramfs.gz"
  rm -rf "$initramfs"
}

if ! current packages.key "$packages_key"; then
  rm -f "$cache/packages.key" "$cache/initramfs.key"
  make_packages
  echo "$packages_key" >"$cache/packages.key"
fi
if ! current initramfs.key "$initramfs_key"; then
  rm -f "$cache/initramfs.key"
  make_initramfs
  echo "$initramfs_key" >"$cache/initramfs.key"
fi
say "ready in $cache"
