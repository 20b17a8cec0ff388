#!/bin/sh
# Prepares the small virtual machine of scripts/vm/run.sh:
#   scripts/vm/prepare.sh [--wine32]
# Everything comes from Debian's packages and goes into the machine's cache
# (see scripts/vm/cache.sh: ${XDG_CACHE_HOME:-$HOME/.cache}/vestrix/vm): the
# distribution's own amd64 kernel (its 32-bit emulation is on, and it has the
# USB/IP and imon modules), an initramfs made of busybox-static and the
# modules the guest needs (scripts/vm/modules), and, with --wine32, a tree of
# the i386 packages that 32-bit Wine needs, unpacked without touching the
# host's package database. It is made once per machine, and made again when
# its inputs change: these scripts, the host's Wine (whose 32-bit half must be
# the same version) and busybox. Prints nothing when the cache is current;
# otherwise one line for each stage. Needs the network (apt-get) only when it
# fetches packages; a mirror out of step is survived as scripts/apt.sh says.
set -eu
wine32=""
case "${1-}" in
  --wine32) wine32=yes ;;
  "") ;;
  *)
    echo "usage: scripts/vm/prepare.sh [--wine32]" >&2
    exit 2
    ;;
esac
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
. "$here/cache.sh"
. "$here/../apt.sh"

say() { echo "vm: $*"; }
fail() {
  echo "vm: cannot prepare the virtual machine: $*" >&2
  exit 1
}

for tool in qemu-system-x86_64:qemu-system-x86 busybox:busybox-static dpkg-deb:dpkg apt-get:apt flock:util-linux; do
  command -v "${tool%%:*}" >/dev/null 2>&1 ||
    fail "${tool%%:*} is missing (Debian package ${tool#*:}; scripts/setup.sh installs it)"
done

# The machine's cache lived in the clone's build tree (build/vm32, when the
# machine was only for 32-bit Wine) before it moved to the machine's cache
# directory; what is left there only takes room.
rm -rf "$top/build/vm32"

# One preparation at a time; a second caller waits for the first and then
# finds the cache current.
mkdir -p "$vm_cache_root"
exec 9>"$vm_cache_root/.lock"
flock 9
# apt_plan PACKAGE...: a private APT setup that knows the i386 architecture,
# with its own package lists and a copy of the host's package database
# without its i386 packages, so that the host's dpkg is never changed and the
# same i386 packages are chosen whether or not the host has 32-bit Wine
# installed; the lists updated, and apt-get's plan for the packages in
# $apt/plan.log. Its lists stay between preparations, for an update that fails.
apt_plan() {
  apt="$vm_cache_root/apt"
  rm -rf "$apt/archives"
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
  apt_update vm "$apt/update.log" || true
  apt_can_have vm "$apt/plan.log" "$@" ||
    fail "the packages above cannot be had; apt-get's plan is $apt/plan.log"
}

# download LOG PACKAGE...: apt-get download into the current directory.
download() {
  download_log="$1"
  shift
  apt-get -q -o Acquire::Retries=3 download "$@" >"$download_log" 2>&1 ||
    fail "apt-get download failed: $(grep -E '^E: ' "$download_log" | head -n 3 | tr '\n' ' ')(its log is $download_log)"
}

# make_kernel: a new entry $vm_packages holding the kernel's package, the
# one linux-image-amd64 points to now. It stays whole: the initramfs takes
# its modules from it, so that a change of the module list needs no download.
make_kernel() {
  kernel_package=$(apt-cache depends linux-image-amd64 | sed -n 's/^ *Depends: \(linux-image-[0-9].*-amd64\)$/\1/p' | head -n 1)
  [ -n "$kernel_package" ] || fail "apt-cache names no kernel behind linux-image-amd64"
  # The entry is made beside its final name and takes it when complete, so
  # that an interrupted preparation leaves nothing that looks ready.
  new="$vm_packages.new"
  rm -rf "$new" "$vm_packages"
  mkdir -p "$new"
  say "downloading $kernel_package"
  (cd "$new" && download "$apt/download.log" "$kernel_package")
  mv "$new/${kernel_package}_"*.deb "$new/kernel.deb"
  touch "$new/.ready"
  mv "$new" "$vm_packages"
}

# make_wine32: the entry's 32-bit Wine tree, $vm_packages/wine32: the i386
# packages that 32-bit Wine adds to this machine, from apt-get's plan, with
# the Wine packages themselves at the host's version.
make_wine32() {
  sed -n 's/^Inst \([^ ]*:i386\) \(\[[^]]*\] \)\{0,1\}(\([^ ]*\) .*/\1=\3/p' "$apt/plan.log" >"$apt/packages"
  grep -q '^wine32:i386=' "$apt/packages" || fail "no wine32:i386 in apt-get's plan; see $apt/plan.log"
  new="$vm_packages/wine32.new"
  rm -rf "$new" "$vm_packages/wine32"
  mkdir -p "$new/debs"
  say "downloading $(wc -l <"$apt/packages") i386 packages"
  # shellcheck disable=SC2046  # one word per package
  (cd "$new/debs" && download "$apt/download.log" $(cat "$apt/packages"))

  # Debian's /lib, /bin and /sbin are links into /usr; a real directory of that
  # name in the tree would hide the host's link inside the guest, so their
  # contents move under /usr.
  say "unpacking the 32-bit Wine tree"
  tree="$new/tree"
  mkdir -p "$tree"
  for deb in "$new/debs"/*.deb; do
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
  # It takes its name when complete, as the entry does.
  mv "$tree" "$vm_packages/wine32"
  rm -rf "$new"
}

# make_initramfs: the kernel, and the initramfs: busybox, the modules of
# scripts/vm/modules with everything they depend on, and the guest's two
# stages (scripts/vm/init, then scripts/vm/guest.sh in its root).
make_initramfs() {
  say "making the initramfs"
  work="$vm_packages/initramfs.work"
  rm -rf "$work"
  mkdir -p "$work/kernel" "$work/tree/bin"
  dpkg-deb -x "$vm_packages/kernel.deb" "$work/kernel"
  kernel_version=$(ls "$work/kernel/lib/modules")
  cp "$work/kernel/boot/vmlinuz-$kernel_version" "$vm_packages/vmlinuz"
  # The package ships no modules.dep. Module names may be written with - or _.
  busybox depmod -b "$work/kernel" "$kernel_version"
  wanted=$(grep -v -e '^#' -e '^$' "$here/modules" | tr '\n-' ' _')
  modules=$(awk -v want="$wanted" '
    BEGIN { n = split(want, w, " "); for (i = 1; i <= n; i++) wanted[w[i]] = 1 }
    {
      name = $1; sub(/:$/, "", name); base = name; sub(/.*\//, "", base); sub(/\.ko.*$/, "", base)
      gsub(/-/, "_", base)
      if (base in wanted) { print name; for (i = 2; i <= NF; i++) print $i }
    }' "$work/kernel/lib/modules/$kernel_version/modules.dep" | sort -u)
  for module in $wanted; do
    echo "$modules" | sed 's/.*\///; s/\.ko.*//' | tr '-' '_' | grep -qx "$module" ||
      fail "the kernel's modules.dep lacks the module $module"
  done
  for module in $modules; do
    mkdir -p "$work/tree/lib/modules/$kernel_version/$(dirname "$module")"
    cp "$work/kernel/lib/modules/$kernel_version/$module" "$work/tree/lib/modules/$kernel_version/$module"
  done
  busybox depmod -b "$work/tree" "$kernel_version"
  echo "$wanted" >"$work/tree/modules"
  cp "$(command -v busybox)" "$work/tree/bin/busybox"
  cp "$here/init" "$work/tree/init"
  cp "$here/guest.sh" "$work/tree/guest.sh"
  chmod +x "$work/tree/init" "$work/tree/guest.sh"
  (cd "$work/tree" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1) >"$vm_initramfs.new"
  mv "$vm_initramfs.new" "$vm_initramfs"
  rm -rf "$work"
}

# prune: the entries of other inputs that no run has used for a week (every
# run touches its own) and that no running machine holds (run.sh holds its
# entry's .ready shared while the machine runs).
prune() {
  for entry in "$vm_cache_root"/packages-*/initramfs-*.gz "$vm_cache_root"/packages-*; do
    [ -e "$entry" ] || continue
    case "$entry" in "$vm_packages" | "$vm_initramfs" | *.new) continue ;; esac
    stamp="$entry"
    [ -d "$entry" ] && stamp="$entry/.ready"
    [ -e "$stamp" ] || continue
    [ -z "$(find "$stamp" -maxdepth 0 -mtime -7)" ] || continue
    if [ -d "$entry" ]; then
      (flock -n -x 8 && rm -rf "$entry") 8<"$stamp" 2>/dev/null || true
    else
      rm -f "$entry"
    fi
  done
}

made=""
need_kernel="" need_wine32=""
[ -f "$vm_packages/.ready" ] || need_kernel=yes
[ -z "$wine32" ] || [ -d "$vm_packages/wine32" ] || need_wine32=yes
if [ -n "$need_kernel$need_wine32" ]; then
  # One plan for everything missing, so that a package that cannot be had
  # fails the preparation before anything is downloaded.
  host_wine=""
  if [ -n "$need_wine32" ]; then
    host_wine=$(dpkg-query -W -f='${Version}' wine 2>/dev/null) ||
      fail "the host's Wine is not installed (scripts/setup.sh installs it)"
  fi
  apt_plan ${need_kernel:+linux-image-amd64} \
    ${need_wine32:+"wine32:i386=$host_wine"} ${need_wine32:+"wine32-preloader:i386=$host_wine"}
  [ -z "$need_kernel" ] || make_kernel
  [ -z "$need_wine32" ] || make_wine32
  made=yes
fi
if [ ! -f "$vm_initramfs" ]; then
  make_initramfs
  made=yes
fi
touch "$vm_packages/.ready" "$vm_initramfs"
prune
[ -z "$made" ] || say "ready in $vm_packages"
