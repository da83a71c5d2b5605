#!/usr/bin/env bash
# Gathers the Windows build into the zip for Windows hosts:
#
#   bin/       kelmo.dll, tavoimage.dll, kelmo.exe, kelmo_example.exe
#   lib/       the import libraries kelmo.lib, tavoimage.lib and their .def files
#   include/   kelmo.h, tavoimage.h
#   data/      the generic head's data directory
#   examples/  create_and_render.c, the source of kelmo_example.exe
#   README.txt how a host loads the libraries (docs/windows-package.txt)
#
#   bash scripts/package-windows.sh BUILD_DIR ZIP
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$(realpath "$1")"
zip="$(realpath -m "$2")"
name="$(basename "$zip" .zip)"
stage="$build/package/$name"
strip=x86_64-w64-mingw32-strip

rm -rf "$build/package"
mkdir -p "$stage/bin" "$stage/lib" "$stage/include" "$stage/examples"
for f in kelmo.dll tavoimage.dll kelmo.exe kelmo_example.exe; do
  # The build keeps its debugging information; the zip does not.
  "$strip" --strip-debug -o "$stage/bin/$f" "$build/bin/$f"
done
cp "$build/kelmo.lib" "$build/tavoimage/tavoimage.lib" "$build/bin/kelmo.def" "$build/bin/tavoimage.def" "$stage/lib/"
cp "$repo/include/kelmo.h" "$repo/include/tavoimage.h" "$stage/include/"
cp -r "$build/data" "$stage/data"
cp "$repo/examples/create_and_render.c" "$stage/examples/"
sed "s/@VERSION@/$(basename "$name" -win64 | sed 's/^kelmo-//')/" "$repo/docs/windows-package.txt" >"$stage/README.txt"

# Any DLL that a module imports beyond Windows' own would have to ship too:
# there is none, and the build fails if one appears.
for f in "$stage"/bin/*.dll "$stage"/bin/*.exe; do
  x86_64-w64-mingw32-objdump -p "$f" | sed -n 's/^\tDLL Name: //p'
done | sort -u | while read -r dll; do
  case "${dll,,}" in
    kernel32.dll|msvcrt.dll|user32.dll|advapi32.dll|shell32.dll|ole32.dll|ws2_32.dll|kelmo.dll|tavoimage.dll) ;;
    *) echo "package-windows: $dll is imported but not shipped" >&2; exit 1 ;;
  esac
done

rm -f "$zip"
(cd "$build/package" && python3 -m zipfile -c "$zip" "$name")
echo "package-windows: $zip"
