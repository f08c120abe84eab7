# dist/SHA256SUMS, sourced by scripts/build and scripts/sign: one line for every file under DIR,
# in a fixed order so that the same files always give the same list.
write_checksums() {
  (cd "$1" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort | xargs sha256sum >SHA256SUMS)
}
