#!/bin/sh
# Seeds for fuzz-containers: the sample files packed by Debian's archivers and
# file system tools into every container format they write, each small.
# Usage: make_container_seeds.sh SAMPLES-FOLDER SEEDS-FOLDER
set -e
# mkfs.fat, sfdisk, mkfs.ext4 and debugfs live in /usr/sbin, off a user's PATH.
export PATH="$PATH:/usr/sbin:/sbin"
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
export MTOOLS_SKIP_CHECK=1
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
# What 7-Zip's library reads: qcow2 and VDI disks (the VDI a block of 1 MiB
# and its header), a deflate64 zip, an ARJ
# (also behind a DOS stub of 1 KiB), an NSIS
# installer and an MSI database holding a cabinet.
rm -f "$tree"/disk.*
qemu-img convert -f raw -O qcow2 "$seeds/seed-fat12.img" "$seeds/seed.qcow2"
qemu-img convert -f raw -O vdi "$seeds/seed-fat12.img" "$seeds/seed.vdi"
(cd "$tree" && 7z a -tzip -mm=Deflate64 "$seeds/seed-deflate64.zip" . >/dev/null)
(cd "$tree" && arj a -r -y "$seeds/seed.arj" >/dev/null)
(printf 'MZ\0\0\2\0' && head -c 1018 /dev/zero && cat "$seeds/seed.arj") > "$seeds/seed-arj.exe"
printf 'OutFile "%s"\nSection\nSetOutPath $INSTDIR\nFile /r "%s/*"\nSectionEnd\n' \
    "$seeds/seed-nsis.exe" "$tree" > "$tree.nsi"
makensis -V1 "$tree.nsi" && rm "$tree.nsi"
gcab -c -z "$tree.cab" "$tree"/*
msibuild "$seeds/seed.msi" -s Kestrel Kestrel 'Intel;1033' '{12345678-1234-1234-1234-123456789012}'
msibuild "$seeds/seed.msi" -a disk1.cab "$tree.cab" && rm "$tree.cab"
# An evidence file whole and cut inside its chunks, a VHDX cut after its
# headers and logs.
cp "$seeds/seed-fat12.img" "$tree/disk.img"
ewfacquire -u -q -t "$tree/disk" "$tree/disk.img" >/dev/null
cp "$tree/disk.E01" "$seeds/seed.E01"
head -c 65536 "$tree/disk.E01" > "$seeds/cut.E01"
qemu-img convert -f raw -O vhdx "$seeds/seed-fat12.img" "$tree/disk.vhdx"
head -c 1048576 "$tree/disk.vhdx" > "$seeds/cut.vhdx"
rm -rf "$tree"

# Hostile containers: damage libarchive only warns about, a zip bomb's size,
# hard links, central directory entries sharing a header, an archiver's own
# program. $1 file, $2 offset: four bytes DE 00 00 00 written there.
poke() { printf '\336\0\0\0' | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }
directory() { od -An -tu4 -j$(($(stat -c%s "$1") - 6)) -N4 "$1"; }
small=$(find . -type f -size -64k | head -2)
bsdtar --format zip -cf "$seeds/hostile-crc.zip" $small
poke "$seeds/hostile-crc.zip" $(($(directory "$seeds/hostile-crc.zip") + 16))
bsdtar --format zip -cf "$seeds/hostile-longer.zip" $small
poke "$seeds/hostile-longer.zip" 22
poke "$seeds/hostile-longer.zip" $(($(directory "$seeds/hostile-longer.zip") + 24))
bsdtar --format zip --options zip:compression=store -cf "$seeds/hostile-shared.zip" $small
cd_at=$(directory "$seeds/hostile-shared.zip")
second=$((cd_at + 46 + $(od -An -tu2 -j$((cd_at + 28)) -N2 "$seeds/hostile-shared.zip") + \
    $(od -An -tu2 -j$((cd_at + 30)) -N2 "$seeds/hostile-shared.zip") + \
    $(od -An -tu2 -j$((cd_at + 32)) -N2 "$seeds/hostile-shared.zip")))
printf '\0\0\0\0' | dd of="$seeds/hostile-shared.zip" bs=1 seek=$((second + 42)) conv=notrunc \
    status=none
find . -type f -size -64k | head -1 | xargs cat | gzip -c > "$seeds/hostile-crc.gz"
poke "$seeds/hostile-crc.gz" $(($(stat -c%s "$seeds/hostile-crc.gz") - 8))
links=$(mktemp -d)
find . -type f -size -64k | head -1 | xargs -I{} cp {} "$links/FIRST"
ln "$links/FIRST" "$links/SECOND"
for format in newc ustar; do
    bsdtar --format "$format" -cf "$seeds/hostile-links.$format" -C "$links" FIRST SECOND
done
rm -r "$links"
# A DOS program of 1168 bytes whose code holds "-lh5-", with "-lh5-" after it too.
{ printf 'MZ\220\0\3\0\0\0\4\0'; head -c 90 /dev/zero; printf 'xx-lh5-'; head -c 1069 /dev/zero
  printf '\26\0-lh5-'; head -c 40 /dev/zero; } > "$seeds/hostile-archiver.exe"
# Hostile seeds: what costs more than it should or says less than it must.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# A cabinet whose files are listed backwards (libmspack then decompresses the
# folder from its start for each), and one whose files all overlap far in.
for i in 1 2 3 4 5 6 7 8; do
    yes "line $i of a file in a cabinet" | head -c 20000 > "F$i.TXT"
done
gcab -c -z listed.cab F?.TXT
cp listed.cab overlapping.cab
files=$(od -An -tu4 -j16 -N4 listed.cab)
for i in 7 6 5 4 3 2 1 0; do
    dd if=listed.cab bs=1 skip=$((files + i * 23)) count=23 status=none
done > list
dd if=list of=listed.cab bs=1 seek=$((files)) conv=notrunc status=none
cp listed.cab "$seeds/seed-listed-backwards.cab"
for i in 0 1 2 3 4 5 6 7; do
    printf '\1\0\0\0\360\111\2\0' | dd of=overlapping.cab bs=1 seek=$((files + i * 23)) conv=notrunc \
        status=none
done
cp overlapping.cab "$seeds/seed-overlapping.cab"
# SZDD cut short of the length its header says, and SZDD of an unknown method.
printf 'SZDD\210\360\047\063A_\0\020\0\0\377ABCDEFGH' > "$seeds/seed-cut.sz_"
printf 'SZDD\210\360\047\063B_\010\0\0\0\377ABCDEFGH' > "$seeds/seed-method.sz_"
# KWAJ cut inside its header: libmspack frees what it never set.
printf 'KWAJ\210\360\047\321\2\0' > "$seeds/seed-kwaj-cut.ex_"
# A compressed stream of unknown length, text that expands a thousandfold.
yes "a line of text in a stream" | head -c 1048576 | gzip -9 > "$seeds/seed-text.gz"
# ARC archives in each method arc writes: stored, squeezed, crunched and
# squashed (the squashed one long enough for its table to be cleared), and
# a packed member by hand: 'A', a run of 99 more, then 0x90 itself.
# arc keeps names of at most 8 + 3 characters (it loops on longer members).
find "$samples" -type f -size -16k | head -3 | while read -r f; do cp "$f" "M$(cksum < "$f" | cut -c1-7)"; done
arc as "$seeds/arc-st.arc" M* >/dev/null
arc a "$seeds/arc-cr.arc" M* >/dev/null
awk 'BEGIN{srand(1); for(i=0;i<4000;i++) printf "%c", 97+int(rand()*4)}' > SQ.BIN
arc a "$seeds/arc-sq.arc" SQ.BIN >/dev/null
seq 60000 > N.TXT && arc aq "$seeds/arc-sh.arc" N.TXT >/dev/null
printf '\32\3PACK.TXT\0\0\0\0\0\5\0\0\0\301\036\0\140\175\350\145\0\0\0A\220\144\220\0\32\0' \
    > "$seeds/arc-pk.arc"
# An LHA archive in LArc's -lz5- (literals only), which liblhasa reads for libarchive.
printf '\33\356-lz5-\17\0\0\0\15\0\0\0\0\140\301\42 \0\5H.TXT\344\233\377Hello, L\377Arc!\12\0' \
    > "$seeds/seed-lz5.lzh"
# Self-extractors: a cabinet in a program's RCDATA resource "CABINET" (its
# data at 1128 in the sample) and behind the program, and a RAR archive
# behind a program larger than the first 384 KiB searched.
cp "$samples/SFX/IEXPRESS.EXE" "$seeds/seed-iexpress.exe"
dd if=overlapping.cab of="$seeds/seed-iexpress.exe" bs=1 seek=1128 conv=notrunc status=none
cat "$samples/SFX/IEXPRESS.EXE" listed.cab > "$seeds/seed-cabinet-behind.exe"
cat "$samples/SFX/WINRAR.EXE" "$samples/SFX/STORED.RAR" > "$seeds/seed-rar-sfx.exe"
# A raw CD image of MODE2 form 1 sectors: sync, address, mode, subheader,
# the user data of a small ISO 9660 image, error codes left zero.
find "$samples" -type f -size -16k | head -2 | xargs xorriso -as mkisofs -quiet -o small.iso 2>/dev/null
python3 -c 'import sys
d = open("small.iso", "rb").read()
with open(sys.argv[1], "wb") as o:
    for i in range(len(d) // 2048):
        a = [(i + 150) // 4500, (i + 150) // 75 % 60, (i + 150) % 75]
        o.write(b"\0" + b"\xff" * 10 + b"\0" + bytes(v // 10 * 16 + v % 10 for v in a) + b"\2" +
                b"\0\0\x08\0" * 2 + d[i * 2048:i * 2048 + 2048] + bytes(280))' "$seeds/seed-mode2.bin"
# An InstallShield set of the samples in a zip, its cabinet read beside its header.
bsdtar --format zip -cf "$seeds/seed-installshield.zip" -C "$samples" INSTALL
# Sets of both layouts whose program goes on in DATA2.CAB, one with a linked file.
bsdtar --format zip -cf "$seeds/seed-installshield-split.zip" -C "$samples" ISSPLIT
bsdtar --format zip -cf "$seeds/seed-installshield-split5.zip" -C "$samples" ISSPLIT5
# IMD and TeleDisk floppy images of a FAT floppy, written by libdsk's dsktrans.
mkfs.fat -C floppy.raw 360 >/dev/null
mcopy -i floppy.raw "$tree"/* ::/ 2>/dev/null || true
dsktrans -itype raw -otype imd floppy.raw "$seeds/seed.imd" >/dev/null 2>&1
dsktrans -itype raw -otype tele floppy.raw "$seeds/seed.td0" >/dev/null 2>&1
