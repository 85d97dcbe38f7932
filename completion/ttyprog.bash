# bash completion for ttyprog: ttyprog PORT COMMAND [PARAM], or ttyprog --help | --version | --list
#   PORT     serial devices (/dev/ttyUSB*, /dev/ttyACM*, /dev/ttyS*, /dev/serial/by-id/*, /dev/pts/*)
#            but never the terminal the user types on; any path when none of them matches what is
#            typed (a simulator's --link, say); the options when what is typed starts with "-"
#   COMMAND  the command names
#   PARAM    HEX files (*.hex, *.ihx, any case) and directories after writeprogram, verifyprogram
#            and program; nothing after the others

_ttyprog_ports() {
  local cur=$1 path own
  own=$(tty 2>/dev/null)
  for path in /dev/ttyUSB* /dev/ttyACM* /dev/ttyS* /dev/serial/by-id/* /dev/pts/[0-9]*; do
    [[ -e $path && $path == "$cur"* ]] || continue
    [[ -n $own && $path -ef $own ]] && continue
    printf '%s\n' "$path"
  done
}

_ttyprog_hex_files() {
  local cur=$1
  compgen -d -- "$cur"
  compgen -f -X '!*.[hH][eE][xX]' -- "$cur"
  compgen -f -X '!*.[iI][hH][xX]' -- "$cur"
}

_ttyprog() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  COMPREPLY=()
  case $COMP_CWORD in
    1)
      if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--help --version --list' -- "$cur"))
        return
      fi
      local IFS=$'\n'
      COMPREPLY=($(_ttyprog_ports "$cur"))
      if [[ ${#COMPREPLY[@]} -eq 0 ]]; then
        compopt -o filenames 2>/dev/null
        COMPREPLY=($(compgen -f -- "$cur"))
      fi
      ;;
    2)
      [[ ${COMP_WORDS[1]} == -* ]] && return
      COMPREPLY=($(compgen -W 'erase eraseall writeprogram verifyprogram readprogram readhex writeid
                               writeconfig readidandconfig program' -- "$cur"))
      ;;
    3)
      case ${COMP_WORDS[2]} in
        writeprogram | verifyprogram | program)
          local IFS=$'\n'
          compopt -o filenames 2>/dev/null
          COMPREPLY=($(_ttyprog_hex_files "$cur"))
          ;;
      esac
      ;;
  esac
}

complete -F _ttyprog ttyprog
