# Bash completion of mrl85 and mrl85-report. Installed once under each
# command's name in share/bash-completion/completions/, where bash-completion
# loads it when one of them is completed first; it also works on its own:
#   source completion/mrl85.bash
#
# The input operand completes to the base names of the HEX and symbol file
# pairs in the folder typed so far (prog for prog.hex and prog.sym), and to
# folders; with -H or --hex to the base names of the HEX files alone, with -S
# or --sym to those of the symbol files alone. Names with a "." in the base
# name are left out: the programs refuse them.

# Adds to COMPREPLY the base names starting with $1 whose files exist: both
# .hex and .sym for "pair", or only the one extension named ("hex", "sym").
# Each name is prefixed with $3, the text typed before the name (as -O).
_mrl85_bases() {
  local cur=$1 want=$2 prefix=${3-} ext=hex dir="" f name
  [ "$want" = sym ] && ext=sym
  case $cur in */*) dir=${cur%/*}/ ;; esac
  for f in "$dir"*."$ext"; do
    [ -f "$f" ] || continue
    name=${f%.*}
    case ${name##*/} in *.*) continue ;; esac
    [ "$want" != pair ] || [ -f "$name.sym" ] || continue
    [[ $name == "$cur"* ]] && COMPREPLY+=("$prefix$name")
  done
}

# Adds the folders starting with $1, so that a base name in another folder
# can be reached step by step. The callers set "-o filenames": readline then
# ends a folder with "/" instead of a blank and quotes blanks in names.
_mrl85_folders() {
  local d
  while IFS= read -r d; do
    COMPREPLY+=("$d")
  done < <(compgen -d -- "$1")
}

# Adds the words of the list $2 that start with $1 and are not among the
# words already typed ($3...), except the current one.
_mrl85_options() {
  local cur=$1 list=$2 word typed
  shift 2
  for word in $list; do
    [[ $word == "$cur"* ]] || continue
    for typed in "$@"; do
      [ "$typed" = "$word" ] && continue 2
    done
    COMPREPLY+=("$word")
  done
}

# mrl85 INPUT -OOUTPUT [-H|-S] [+info], mrl85 -V. -O takes its name without
# a blank: -O completes to -O followed by the input names (for in place).
_mrl85() {
  local cur=${COMP_WORDS[COMP_CWORD]} want=pair word
  local -a others=("${COMP_WORDS[@]:1:COMP_CWORD-1}") taken=()
  COMPREPLY=()
  # -H and -S exclude each other; -Oname counts as -O.
  for word in "${others[@]}"; do
    case $word in
      -[hH]) want=hex taken+=(-H -S) ;;
      -[sS]) want=sym taken+=(-H -S) ;;
      -[oO]*) taken+=(-O) ;;
      *) taken+=("$word") ;;
    esac
  done
  case $cur in
    -[oO]*)
      _mrl85_bases "${cur:2}" "$want" "${cur:0:2}"
      compopt -o filenames 2>/dev/null
      ;;
    [-+]*)
      _mrl85_options "$cur" "-O -H -S +info -V" "${taken[@]}"
      [ ${#COMPREPLY[@]} -ne 1 ] || [ "${COMPREPLY[0]}" != -O ] || compopt -o nospace 2>/dev/null
      ;;
    *)
      _mrl85_bases "$cur" "$want"
      _mrl85_folders "$cur"
      compopt -o filenames 2>/dev/null
      ;;
  esac
}

# The options of mrl85-report as its --help lists them (the lines that start
# with blanks and "--"), so that the completion knows every option of the
# installed program; "--html=" keeps its "=".
_mrl85_report_options() {
  "$1" --help 2>/dev/null | sed -n 's/^ *\(--[a-z][a-z-]*=\{0,1\}\).*/\1/p' | tr '\n' ' '
}

# mrl85-report [OPTION]... INPUT. After --html= a file name, after --list=
# the kinds of rows, after --format= text or json, after --compare= the base
# names of the earlier build (as the input's); bash splits
# "--html=FILE" at the "=", so the word before may be "=" and the one before
# that "--html".
_mrl85_report() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev="" want=pair word value="" opts
  local -a others=("${COMP_WORDS[@]:1:COMP_CWORD-1}") taken=()
  COMPREPLY=()
  [ "$COMP_CWORD" -lt 1 ] || prev=${COMP_WORDS[COMP_CWORD - 1]}
  # --hex and --sym exclude each other; --html=FILE counts as --html=.
  for word in "${others[@]}"; do
    case $word in
      --hex) want=hex taken+=(--hex --sym) ;;
      --sym) want=sym taken+=(--hex --sym) ;;
      --html | --html=*) taken+=(--html=) ;;
      --all) taken+=(--all --list=) ;;
      --list | --list=*) taken+=(--all) ;;
      --format | --format=*) taken+=(--format=) ;;
      --compare | --compare=*) taken+=(--compare=) ;;
      *) taken+=("$word") ;;
    esac
  done
  if [ "$cur" = = ] && [[ $prev == --* ]]; then
    prev="$prev="
    cur=""
  elif [ "$prev" = = ] && [ "$COMP_CWORD" -ge 2 ]; then
    prev="${COMP_WORDS[COMP_CWORD - 2]}="
  elif [[ $cur == --*=* ]]; then
    prev=${cur%%=*}=
    cur=${cur#*=}
    value=$prev
  else
    prev=""
  fi
  case $prev in
    --html=)
      local f
      while IFS= read -r f; do
        COMPREPLY+=("$value$f")
      done < <(compgen -f -- "$cur")
      compopt -o filenames 2>/dev/null
      return
      ;;
    --list=)
      # The kinds, several separated by commas: the last one is completed.
      local kind done=""
      case $cur in *,*) done=${cur%,*}, ;; esac
      for kind in units functions labels blocks segments lines; do
        [[ $kind == "${cur##*,}"* ]] && COMPREPLY+=("$value$done$kind")
      done
      return
      ;;
    --compare=)
      local d
      _mrl85_bases "$cur" "$want" "$value"
      while IFS= read -r d; do
        COMPREPLY+=("$value$d")
      done < <(compgen -d -- "$cur")
      compopt -o filenames 2>/dev/null
      return
      ;;
    --format=)
      local format
      for format in text json; do
        [[ $format == "$cur"* ]] && COMPREPLY+=("$value$format")
      done
      return
      ;;
    ?*) return ;;
  esac
  case $cur in
    -*)
      opts=$(_mrl85_report_options "${COMP_WORDS[0]}")
      [ -n "$opts" ] || opts="--hex --sym --list= --all --compare= --format= --html= --help --version"
      _mrl85_options "$cur" "$opts" "${taken[@]}"
      [ ${#COMPREPLY[@]} -ne 1 ] || [[ ${COMPREPLY[0]} != *= ]] || compopt -o nospace 2>/dev/null
      ;;
    *)
      _mrl85_bases "$cur" "$want"
      _mrl85_folders "$cur"
      compopt -o filenames 2>/dev/null
      ;;
  esac
}

complete -F _mrl85 mrl85
complete -F _mrl85_report mrl85-report
