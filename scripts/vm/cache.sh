# Sourced by scripts/vm/prepare.sh and scripts/vm/run.sh: where the virtual
# machine's cache lives and which of its entries this checkout needs.
#
# The cache belongs to the machine, not to a clone: every clone and every run
# of the scripts on this machine finds what an earlier one made there, so that
# only the first needs the network. It lives in the user's cache directory,
# ${XDG_CACHE_HOME:-$HOME/.cache}/vestrix/vm, and can be removed at any time
# (it is made again). Each entry is named by the hash of its inputs, so that
# clones at different commits use entries of their own side by side:
#   packages-KEY/        the kernel's package, its vmlinuz and, once a run has
#                        asked for it (--wine32), the 32-bit Wine tree wine32/;
#                        KEY covers prepare.sh and the host's Wine
#   packages-KEY/initramfs-KEY2.gz
#                        the initramfs; KEY2 covers the guest's scripts, its
#                        module list and busybox as well
#   apt/                 the private APT state: package lists, kept between
#                        entries so that a failed update can go on with them
#   .lock                one preparation at a time
# Needs `here` set to scripts/vm.

vm_cache_root="${XDG_CACHE_HOME:-${HOME:?HOME is not set}/.cache}/vestrix/vm"

# vm_installed PACKAGE...: name=version of each installed package.
vm_installed() { dpkg-query -W -f='${Package}=${Version}\n' "$@" 2>/dev/null || true; }

# The keys and the paths of this checkout's entry.
vm_packages_key=$({
  vm_installed wine libwine
  cat "$here/prepare.sh"
} | sha256sum | cut -c1-16)
vm_initramfs_key=$({
  echo "$vm_packages_key"
  vm_installed busybox-static
  cat "$here/init" "$here/guest.sh" "$here/modules"
} | sha256sum | cut -c1-16)
vm_packages="$vm_cache_root/packages-$vm_packages_key"
vm_initramfs="$vm_packages/initramfs-$vm_initramfs_key.gz"
