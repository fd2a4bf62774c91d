#!/bin/sh
# The libraries' arrows point one way (docs/architecture.md): the engine (catalogue/, detect/)
# includes nothing of app/, results/ or the window; results/ only app's control identifiers;
# the platform nothing of the core. Also no function in src/ or tools/twinrake-find is longer
# than 60 lines, which a reader can take in at once. Usage: architecture_test.sh SOURCE_DIR
set -u
cd "$1" || exit 2
failed=0

# Prints the includes of files below $1 that match $2.
includes() {
  grep -rn --include='*.h' --include='*.cpp' -E "^#include \"($2)" "$1" 2>/dev/null
}

bad=$(includes src/catalogue 'app/|results/|detect/|platform/window\.h'; includes src/detect 'app/|results/|platform/window\.h')
if [ -n "$bad" ]; then
  echo "the engine reaches up:"; echo "$bad"; failed=1
fi
bad=$(includes src/results 'app/' | grep -v 'app/controls\.h')
if [ -n "$bad" ]; then
  echo "results/ reaches into app/ beyond its control identifiers:"; echo "$bad"; failed=1
fi
bad=$(includes src/platform 'app/|results/|detect/|catalogue/' | grep -v -e '/main\.cpp:' -e '/main_win32\.cpp:')
if [ -n "$bad" ]; then
  echo "the platform reaches into the core:"; echo "$bad"; failed=1
fi
bad=$(grep -rln --include='*.h' --include='*.cpp' '#include "app/' tools/twinrake-find)
if [ -n "$bad" ]; then
  echo "twinrake-find reaches into the window's shell:"; echo "$bad"; failed=1
fi

# A function is what lies between a line ending in ") {" that opens a definition (its
# signature may begin lines above) and the "}" at the indentation where the signature began;
# the count is its lines, from the first of the signature to the closing brace.
long=$(find src tools/twinrake-find -name '*.cpp' | sort | xargs awk '
  FNR == 1 { depth = -1; continued = 0 }
  {
    if (!continued) { match($0, /^ */); statement = RLENGTH; first = FNR }
    opens = $0 ~ /\) (const )?(override )?(noexcept )?\{$/ && $0 !~ /^ *(if|for|while|switch|else|do|catch|\}) / && $0 !~ /[=\[]/
    if (depth < 0 && opens && statement <= 4) { depth = statement; start = first; name = FILENAME ":" first }
    else if (depth >= 0 && match($0, /^ *\}/) && RLENGTH - 1 == depth) {
      if (FNR - start + 1 > 60) print name ": " FNR - start + 1 " lines"
      depth = -1
    }
    continued = $0 ~ /[,(&|+]$/
  }')
if [ -n "$long" ]; then
  echo "functions over 60 lines:"; echo "$long"; failed=1
fi
exit $failed
