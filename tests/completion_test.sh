#!/bin/sh
# Each shell loads its completion of twinrake-find and offers its options, the rules of --keep
# and folders. Usage: completion_test.sh COMPLETIONS_DIR SCRATCH_DIR
set -u
dir=$(cd "$1" && pwd)
scratch=$2
mkdir -p "$scratch/folder"
failed=0
expect() {  # what offered, what must be among it, which shell
  case "$1" in
    *"$2"*) ;;
    *) echo "$3 does not offer $2; it offers: $1"; failed=1 ;;
  esac
}

offered=$(bash --norc -c '. "$1"; COMP_WORDS=(twinrake-find --ke); COMP_CWORD=1; _twinrake_find
  echo "${COMPREPLY[*]}"; COMP_WORDS=(twinrake-find --keep ""); COMP_CWORD=2; _twinrake_find
  echo "${COMPREPLY[*]}"; complete -p twinrake-find' - "$dir/twinrake-find.bash" 2>&1)
for word in --keep "first newest oldest shortest-path" "-F _twinrake_find"; do
  expect "$offered" "$word" bash
done

if command -v zsh >/dev/null; then
  offered=$(cd "$scratch" && HOME=$scratch zsh -f -c 'fpath=("$1" $fpath); autoload -Uz compinit
    compinit -u -d "$2/zcompdump"; print -r -- $_comps[twinrake-find]' - "$dir" "$scratch" 2>&1)
  expect "$offered" _twinrake-find zsh
else
  echo "zsh is missing (tools/install-deps.sh test installs it)"; failed=1
fi

if command -v fish >/dev/null; then
  offered=$(cd "$scratch" && HOME=$scratch fish --no-config -c 'source $argv[1]
    complete -C "twinrake-find --ke"; complete -C "twinrake-find --keep "
    complete -C "twinrake-find fol"' "$dir/twinrake-find.fish" 2>&1)
  for word in --keep shortest-path folder/; do
    expect "$offered" "$word" fish
  done
else
  echo "fish is missing (tools/install-deps.sh test installs it)"; failed=1
fi
exit $failed
