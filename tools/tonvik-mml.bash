# bash completion for tonvik-mml: its options by command, the devices of --device as --list-devices
# shows them, and files by their extension.

# The word as typed without its quoting (backslashes, single and double quotes), read without eval so
# that nothing in it runs.
_tonvik_mml_unquote() {
  local word=$1 out='' quote='' c
  local -i i
  for ((i = 0; i < ${#word}; i++)); do
    c=${word:i:1}
    if [[ -z $quote && ($c == "'" || $c == '"') ]]; then
      quote=$c
    elif [[ -n $quote && $c == "$quote" ]]; then
      quote=''
    elif [[ $c == '\' && $quote != "'" ]] && ((i + 1 < ${#word})); then
      ((i++))
      out+=${word:i:1}
    else
      out+=$c
    fi
  done
  printf '%s' "$out"
}

# The numbers and names of the devices, one a line: with $2 "output" the output devices then "none",
# with "input" the inputs (numbered in<N>). $1 is the program as typed.
_tonvik_mml_devices() {
  local number name rest pattern='^-?[0-9]+$'
  [[ $2 == input ]] && pattern='^in[0-9]+$'
  while IFS=$'\t' read -r number name rest; do
    [[ $number =~ $pattern ]] || continue
    printf '%s\n' "$number"
    # The name as --device and --input take it: without leading and trailing blanks.
    name=${name#"${name%%[![:space:]]*}"}
    name=${name%"${name##*[![:space:]]}"}
    [[ -n $name ]] && printf '%s\n' "$name"
  done < <("$1" --list-devices 2>/dev/null)
  [[ $2 == output ]] && printf '%s\n' none
}

_tonvik_mml() {
  local cur prev words cword
  _init_completion -n : || return

  case $prev in
    -o)
      _filedir 'mid|midi|nmm|wav|flac|ogg'
      return
      ;;
    --play)
      _filedir 'mml|txt'
      return
      ;;
    --record-to-mml | --take)
      _filedir 'txt'
      return
      ;;
    --from-midi)
      _filedir 'mid|midi'
      return
      ;;
    --soundfont)
      _filedir 'sf2|sf3'
      return
      ;;
    --trace)
      _filedir
      return
      ;;
    --dialect)
      mapfile -t COMPREPLY < <(compgen -W '0 1 2 3 4 5 6' -- "$cur")
      return
      ;;
    --mode)
      mapfile -t COMPREPLY < <(compgen -W '0 1 2 3' -- "$cur")
      return
      ;;
    --device | --input)
      # Names hold blanks and colons: matched against the word as typed and handed back unquoted for
      # readline to quote. A colon outside quotes ends a word for readline: the part before it stays
      # on the line and is left out of the names.
      local typed device kind=output
      [[ $prev == --input ]] && kind=input
      typed=$(_tonvik_mml_unquote "$cur")
      COMPREPLY=()
      while IFS= read -r device; do
        [[ $device == "$typed"* ]] && COMPREPLY+=("$device")
      done < <(_tonvik_mml_devices "${words[0]}" "$kind")
      compopt -o filenames 2>/dev/null
      [[ $cur == *[\"\']* ]] || __ltrim_colon_completions "$typed"
      return
      ;;
    --rate | --gain | --loops | --tail | --duration | --tempo | --length | --min | --default | --first)
      return
      ;;
  esac

  if [[ $cur == -* ]]; then
    # The options of the command the first mode option chose.
    local options='-o --events --dialect --soundfont --rate --gain --loops --tail --quiet --play
      --list-devices --record --record-to-mml --from-midi --help'
    local conversion='--mode --tempo --length --min --default --first --dialect'
    local word
    for word in "${words[@]:1:cword-1}"; do
      case $word in
        --play) options='--device --trace --quiet' ;;
        --list-devices) options='' ;;
        --record-to-mml) options=$conversion ;;
        --from-midi) options="--as-take $conversion" ;;
        --record) options="--input --device --duration --take $conversion" ;;
        *) continue ;;
      esac
      break
    done
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    return
  fi
  _filedir 'mml|txt'
}
complete -F _tonvik_mml tonvik-mml
