#!/usr/bin/env bash
# Checks the Windows build against the Linux build, under Wine:
#
#   1. kelmo.dll and tavoimage.dll export exactly the TAVO_ functions that
#      libkelmo.so and libtavoimage.so export;
#   2. the generic head's data directory made by kelmo_generic_head.exe is the
#      Linux one: the same bytes, except where the generator's sines and
#      cosines come from the C runtime (the four .face files: every float
#      within 1e-6 of the Linux one, relative to max(1, |value|));
#   3. kelmo.exe finds the same 66 landmarks in the sample photo as the Linux
#      kelmo;
#   4. the C example (a model from the sample photo, rendered, saved as PNG)
#      draws the same picture as on Linux, to the bit (both builds solve with
#      the reference LAPACK and BLAS, linked in): once with the Linux data
#      directory, so that only the libraries differ, and once with its own,
#      named the Windows way (drive letter, backslashes, trailing
#      backslash), saving to a file name beyond ASCII: the example's narrow
#      argv is in the ANSI code page, the library's fallback for strings that
#      are not UTF-8 (tests/platform reaches the UTF-8 names).
#
#   bash scripts/check-windows.sh WINDOWS_BUILD LINUX_BUILD
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
win="$(realpath "${1:-build-windows}")"
linux="$(realpath "${2:-build}")"
out="$win/check"
objdump=x86_64-w64-mingw32-objdump
export WINEPREFIX="$win/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
wine="$(command -v wine64 || echo /usr/lib/wine/wine64)"

rm -rf "$out" && mkdir -p "$out"
failures=0
pass() { echo "check-windows: ok   $*"; }
fail() { echo "check-windows: FAIL $*"; failures=$((failures + 1)); }

# A Unix path as Wine's drive Z: names it.
winpath() { echo "Z:$(realpath -m "$1" | tr / '\\')"; }

# ---- 1. exports ---------------------------------------------------------------
dll_exports() { "$objdump" -p "$1" | awk '/\[Ordinal\/Name Pointer\] Table/ {t = 1; next} t && NF == 0 {t = 0} t {print $NF}' | grep '^TAVO_\|TAVO_' | sort; }
so_exports() { nm -D --defined-only "$1" | awk '{print $3}' | grep 'TAVO_' | sort; }
for pair in "kelmo.dll:libkelmo.so" "tavoimage.dll:libtavoimage.so"; do
  dll="${pair%%:*}" so="${pair##*:}"
  if diff <(so_exports "$linux/$so") <(dll_exports "$win/bin/$dll") >"$out/exports-$dll.diff"; then
    pass "$dll exports the $(so_exports "$linux/$so" | wc -l) TAVO_ functions of $so"
  else
    fail "$dll and $so export different functions:"; cat "$out/exports-$dll.diff"
  fi
done

# ---- 2. data directory --------------------------------------------------------
data_ok=1
while IFS= read -r f; do
  case "$f" in
    *.face)
      python3 - "$linux/data/$f" "$win/data/$f" <<'EOF' || data_ok=0
import struct, sys
a, b = (open(p, "rb").read() for p in sys.argv[1:3])
if len(a) != len(b):
    sys.exit(f"{sys.argv[2]}: {len(b)} bytes, Linux {len(a)}")
# Counts are 32-bit integers and coordinates 32-bit floats, all little-endian
# and 4-byte aligned: compare word by word.
n = len(a) // 4
wa, wb = struct.unpack(f"<{n}f", a[:4 * n]), struct.unpack(f"<{n}f", b[:4 * n])
ia, ib = struct.unpack(f"<{n}i", a[:4 * n]), struct.unpack(f"<{n}i", b[:4 * n])
bad = [k for k in range(n) if ia[k] != ib[k] and not abs(wa[k] - wb[k]) <= 1e-6 * max(1.0, abs(wa[k]))]
if bad or a[4 * n:] != b[4 * n:]:
    sys.exit(f"{sys.argv[2]}: {len(bad)} words beyond the tolerance, the first at byte {4 * bad[0] if bad else 4 * n}")
differ = sum(ia[k] != ib[k] for k in range(n))
print(f"  {sys.argv[2].rsplit('/', 1)[-1]}: {differ} of {n} floats differ, all within tolerance")
EOF
      ;;
    *) cmp -s "$linux/data/$f" "$win/data/$f" || { echo "  $f differs"; data_ok=0; } ;;
  esac
done < <(cd "$linux/data" && find . -type f | sed 's|^\./||' | sort)
if [ "$data_ok" -eq 1 ] && diff <(cd "$linux/data" && find . | sort) <(cd "$win/data" && find . | sort) >/dev/null; then
  pass "the data directory matches the Linux one"
else
  fail "the data directory differs from the Linux one"
fi

# ---- 3. landmarks -------------------------------------------------------------
photo="$linux/sample/astronaut.png"
[ -s "$photo" ] || bash "$repo/scripts/fetch-sample-photo.sh" "$linux/sample"
"$linux/bin/kelmo" landmarks "$photo" -o "$out/points-linux.txt" >/dev/null
"$wine" "$win/bin/kelmo.exe" landmarks "$(winpath "$photo")" -o "$(winpath "$out/points-windows.txt")" \
  --model /usr/share/dlib/shape_predictor_68_face_landmarks.dat >/dev/null
if cmp -s <(tr -d '\r' <"$out/points-linux.txt") <(tr -d '\r' <"$out/points-windows.txt"); then
  pass "kelmo.exe finds the Linux kelmo's 66 landmarks"
else
  fail "kelmo.exe's landmarks differ from the Linux kelmo's:"
  diff <(tr -d '\r' <"$out/points-linux.txt") <(tr -d '\r' <"$out/points-windows.txt") | head -n 10
fi

# ---- 4. the C example ---------------------------------------------------------
"$linux/bin/kelmo_example" "$linux/data/" "$photo" "$out/points-linux.txt" \
  "$out/linux.png" >/dev/null
"$wine" "$win/bin/kelmo_example.exe" "$(winpath "$linux/data")\\" "$(winpath "$photo")" \
  "$(winpath "$out/points-linux.txt")" "$(winpath "$out/windows.png")" >/dev/null
if python3 "$repo/scripts/compare-images.py" "$out/linux.png" "$out/windows.png" >"$out/compare.txt"; then
  pass "kelmo_example.exe renders the Linux picture to the bit ($(cat "$out/compare.txt"))"
else
  fail "kelmo_example.exe's picture differs from the Linux one: $(cat "$out/compare.txt")"
fi

# Its own data directory, a Windows path, and a file name beyond ASCII.
unicode_png="$out/tête.png"
"$wine" "$win/bin/kelmo_example.exe" "$(winpath "$win/data")\\" "$(winpath "$photo")" \
  "$(winpath "$out/points-linux.txt")" "$(winpath "$unicode_png")" >/dev/null || true
if [ -s "$unicode_png" ] && python3 "$repo/scripts/compare-images.py" "$out/linux.png" "$unicode_png" >"$out/compare-own.txt"; then
  pass "with its own data directory it draws the same picture, saved as $(basename "$unicode_png")"
else
  fail "with its own data directory: $(cat "$out/compare-own.txt" 2>/dev/null || echo "no $(basename "$unicode_png")")"
fi

if [ "$failures" -ne 0 ]; then
  echo "check-windows: $failures checks failed"
  exit 1
fi
echo "check-windows: all checks passed"
