#!/usr/bin/env bash
# Drives tonvik-mml's bash completion as readline would: COMP_WORDS and COMP_CWORD for a command line,
# the completion function, then COMPREPLY compared with what is expected. The devices come from a
# stand-in program that prints a --list-devices table; the files from a temporary folder.
# Usage: completion_test.sh COMPLETION_SCRIPT
set -u
script=$(realpath "$1")
framework=/usr/share/bash-completion/bash_completion
if [ ! -r "$framework" ]; then
  echo "SKIP: bash-completion is not installed ($framework)"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir songs
touch song.mml take.txt in.mid out.MID render.wav sound.sf2 notes.doc
printf '%s\n' '#!/bin/sh' \
  'printf -- "-1\tBuilt-in synthesizer (FluidSynth)\tSW  \t256\t256\t--\t10.7 ms\n"' \
  'printf -- "0\tMidi Through:Midi Through Port-0 \tPORT\t--\t--\t--\t--\n"' \
  'printf -- "1\tTonvik:out\tPORT\t--\t--\t--\t--\n"' \
  'printf -- "in0\tKeyboard:out\tJACK\n"' >list-devices
chmod +x list-devices

# complete EXPECTED WORD...: the words after the program, the last one being completed (COMP_WORDS as
# bash splits them: a colon is a word of its own). EXPECTED is the sorted replies joined by "|".
failures=0
complete() {
  local expected=$1
  shift
  local got
  got=$(bash --norc --noprofile -c '
    source "$1" && source "$2" || exit 1
    shift 2
    COMP_WORDS=(./list-devices "$@")
    COMP_CWORD=$(($# ))
    # The line as typed: no blanks around a colon.
    COMP_LINE=${COMP_WORDS[0]}
    for ((i = 1; i < ${#COMP_WORDS[@]}; i++)); do
      [[ ${COMP_WORDS[i]} == : || ${COMP_WORDS[i-1]} == : ]] || COMP_LINE+=" "
      COMP_LINE+=${COMP_WORDS[i]}
    done
    COMP_POINT=${#COMP_LINE}
    _tonvik_mml ./list-devices "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD-1]}"
    printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd "|"
  ' completion "$framework" "$script" "$@" 2>&1)
  if [ "$got" != "$expected" ]; then
    echo "FAIL: tonvik-mml $*<TAB>"
    echo "  expected: $expected"
    echo "  got:      $got"
    failures=$((failures + 1))
  fi
}

# Options, by the command the first mode option chose.
complete "--list-devices" --li
complete "--default|--dialect" --record-to-mml take.txt --d
complete "--device" --play song.mml --dev
complete "--as-take" --from-midi in.mid --as
complete "" --list-devices --
complete "-o" song.mml -o
complete "--default|--device|--dialect|--duration" --record --d
# Devices: numbers and trimmed names from --list-devices, "none"; a name with blanks typed escaped or
# in quotes; the part before a colon already on the line.
complete "-1|0|1|Built-in synthesizer (FluidSynth)|Midi Through:Midi Through Port-0|Tonvik:out|none" \
  --play song.mml --device ''
complete "Built-in synthesizer (FluidSynth)" --play song.mml --device Bu
complete "Built-in synthesizer (FluidSynth)" --play song.mml --device '"Built-in s'
complete "Midi Through Port-0" --play song.mml --device 'Midi\ Through' : Mi
complete "Midi Through:Midi Through Port-0" --play song.mml --device '"Midi Through:Mi'
complete "out" --play song.mml --device Tonvik : ''
complete "-1" --play song.mml --device -
complete "Keyboard:out|in0" --record --input ''
complete "songs|take.txt" --record --take ''
# Files by extension (any case), folders too.
complete "song.mml|songs|take.txt" ''
complete "in.mid|out.MID|render.wav|songs" song.mml -o ''
complete "in.mid|out.MID|songs" --from-midi ''
complete "songs|take.txt" --record-to-mml ''
complete "songs|sound.sf2" song.mml -o x.wav --soundfont ''
complete "0|1|2|3|4|5|6" song.mml --dialect ''
complete "" song.mml -o x.wav --rate ''

[ "$failures" -eq 0 ] || exit 1
echo "completion: every case passed"
