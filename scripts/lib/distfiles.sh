# What scripts/build puts into dist/, sourced by it: each file from the one place the build leaves
# it. A file that is not there stops the build, naming it, before dist/SHA256SUMS could vouch for
# an incomplete release.
DIST_FILES=(traymode/VornTray.exe installclient/InstallZel.exe installer/ZelPCSetup.exe installer/ZelPC.msi)

# copy_built TARGET: build/TARGET's files into dist/TARGET, from the current folder.
copy_built() {
  local file
  for file in "${DIST_FILES[@]}"; do
    if [ ! -f "build/$1/$file" ]; then
      echo "scripts/build: build/$1/$file is missing" >&2
      return 1
    fi
  done
  mkdir -p "dist/$1"
  for file in "${DIST_FILES[@]}"; do
    cp "build/$1/$file" "dist/$1/"
  done
}
