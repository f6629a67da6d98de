# Every fuzz target by name. A file-system kind's target is the name its
# registry row gives (fuzzTarget); the regression tests check that each such
# name is here. scripts/fuzz reads this list too.
set(QUORVEL_FUZZ_TARGETS ntfs fat16 fat32 exfat ext hfsplus partitions lznt1 ext-journal settings carve)
