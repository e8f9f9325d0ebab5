#!/bin/sh
# Seeds for fuzz-containers: the sample files packed by Debian's archivers and
# file system tools into every container format they write, each small.
# Usage: make_container_seeds.sh SAMPLES-FOLDER SEEDS-FOLDER
set -e
samples=$(realpath "$1")
mkdir -p "$2"
seeds=$(realpath "$2")
cd "$samples"
cp -r . "$seeds/"
# The large sparse sample stays out of the containers: a seed is at most 1 MiB.
# Names that are not UTF-8 get a warning from the formats that store Unicode.
for format in zip 7zip odc newc bin ustar; do
    bsdtar --format "$format" --exclude ARCHIVE.DAT -cf "$seeds/seed.$format" . 2>/dev/null
done
bsdtar --exclude ARCHIVE.DAT -czf "$seeds/seed.tgz" . 2>/dev/null
bsdtar --exclude ARCHIVE.DAT -cjf "$seeds/seed.tbz" . 2>/dev/null
bsdtar --exclude ARCHIVE.DAT -cJf "$seeds/seed.txz" . 2>/dev/null
xorriso -as mkisofs -quiet -r -J -m ARCHIVE.DAT -o "$seeds/seed.iso" . 2>/dev/null
find . -type f -size -64k | head -8 | xargs gcab -c -z "$seeds/seed-mszip.cab"
find . -type f -size -64k | head -8 | xargs gcab -c "$seeds/seed-stored.cab"
mkfs.fat -C "$seeds/seed-fat12.img" 160 >/dev/null
MTOOLS_SKIP_CHECK=1 mcopy -s -i "$seeds/seed-fat12.img" ./* ::/ 2>/dev/null || true
# Damaged disk images, each damage written at the named field: a wiped
# ext4 record, s_inodes_per_group 1, an ext2 root folder claiming 1 GiB,
# FAT entries claiming 4 GiB, a FAT chain that loops, a folder holding
# itself, a volume label and a looping chain of extended partition tables.
export PATH="$PATH:/usr/sbin" MTOOLS_SKIP_CHECK=1
at() { dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }
record() { # where the record of $2 starts in the image $1 (blocks of 1024 bytes)
    echo $(($(debugfs -R "imap $2" "$1" 2>/dev/null |
        sed -n 's/.*block \([0-9]*\), offset \(.*\)/\1*1024+\2/p')))
}
tree=$(mktemp -d)
find . -type f -size -16k | head -4 | xargs -I{} cp {} "$tree"
mkdir "$tree/SUB" && find . -type f -size -16k | sed -n 5,6p | xargs -I{} cp {} "$tree/SUB"
mkfs.ext4 -q -d "$tree" "$seeds/wiped.ext4" 1M 2>/dev/null
head -c 256 /dev/zero | at "$seeds/wiped.ext4" "$(record "$seeds/wiped.ext4" "/$(ls "$tree" | head -1)")"
mkfs.ext4 -q -d "$tree" "$seeds/inodes-per-group.ext4" 1M 2>/dev/null
printf '\1\0\0\0' | at "$seeds/inodes-per-group.ext4" 1064
mkfs.ext4 -q -d "$tree" "$seeds/loop.ext4" 1M 2>/dev/null
debugfs -w -R 'link /SUB /SUB/LOOP' "$seeds/loop.ext4" 2>/dev/null
mkfs.ext2 -q -b 1024 -d "$tree" "$seeds/root-1g.ext2" 1M 2>/dev/null
printf '\0\0\0\100' | at "$seeds/root-1g.ext2" $(($(record "$seeds/root-1g.ext2" "<2>") + 4))
mkfs.fat -n KESTREL -C "$seeds/damaged-fat12.img" 160 >/dev/null
mcopy -s -i "$seeds/damaged-fat12.img" "$tree"/* ::/ 2>/dev/null || true
for name in $(ls "$tree" | head -2); do # size fields (at 28) claiming 4 GiB
    entry=$(grep -obUa "$(echo "${name%.*}        " | cut -c1-8 | tr a-z A-Z)" \
        "$seeds/damaged-fat12.img" | head -1 | cut -d: -f1)
    [ -n "$entry" ] && printf '\377\377\377\377' | at "$seeds/damaged-fat12.img" $((entry + 28))
done
# FAT12 packs clusters 2 and 3 in the three bytes at 3 of the FAT: each leads to the other.
printf '\3\40\0' | at "$seeds/damaged-fat12.img" $((512 + 3))
truncate -s 1M "$seeds/extended-loop.img"
printf 'start=64,size=128,type=6\nstart=192,type=5\nstart=256,size=64,type=6\nstart=384,type=6\n' |
    sfdisk -q "$seeds/extended-loop.img"
# The second extended table (at 383) links to itself (191 past the first).
printf '\5\0\0\0\277\0\0\0\1' | at "$seeds/extended-loop.img" $((383 * 512 + 466))
# Virtual disks whose reads fail inside libvmdk and libvhdi: the grains and
# blocks cut off (the VHD keeps its closing footer, or not), and a VMDK whose
# grain directory (at 56, in sectors) lies past its end.
qemu-img convert -f raw -O vmdk "$seeds/seed-fat12.img" "$tree/disk.vmdk"
head -c 65536 "$tree/disk.vmdk" > "$seeds/cut.vmdk"
cp "$tree/disk.vmdk" "$seeds/grain-directory.vmdk"
printf '\377\377\377\177' | at "$seeds/grain-directory.vmdk" 56
qemu-img convert -f raw -O vpc "$seeds/seed-fat12.img" "$tree/disk.vhd"
(head -c 65536 "$tree/disk.vhd" && tail -c 512 "$tree/disk.vhd") > "$seeds/cut.vhd"
head -c 65536 "$tree/disk.vhd" > "$seeds/no-footer.vhd"
rm -rf "$tree"
