#!/usr/bin/env bash
# The manual pages and orvik-cli's bash completion against the programs' own --help: every
# option and command a program takes is documented, and nothing documented is gone.
#   documented_options_test.sh PACKAGING-DIR PROGRAM...
set -euo pipefail
packaging=$1
shift
status=0
fail() {
  echo "FAILED: $*" >&2
  status=1
}

# Long options and commands of one --help text: "  -t,--type INT", "  serial   Write ...".
help_options() { grep -oE '^  (-[a-zA-Z],)?--[a-z0-9-]+' | grep -oE -- '--[a-z0-9-]+' || true; }
help_commands() { sed -n '/^Subcommands:/,/^$/p' | grep -oE '^  [a-z][a-z0-9-]*' | tr -d ' ' || true; }

# What a program takes: its options and commands, each command's options, and those of its
# own commands ("station update").
program_words() {
  local program=$1 help command text sub
  help=$("$program" --help)
  help_options <<<"$help"
  for command in $(help_commands <<<"$help"); do
    echo "$command"
    text=$("$program" "$command" --help)
    help_options <<<"$text"
    for sub in $(help_commands <<<"$text"); do
      echo "$sub"
      "$program" "$command" "$sub" --help | help_options
    done
  done
}

# What a manual page documents: the first word of each item (.TP) and its long options.
man_words() {
  sed -n '/^\.TP/{n;p}' "$1" | sed -e 's/\\-/-/g' -e 's/\\f[BIR]//g' -e 's/"//g' |
    sed -E 's/^\.[A-Z]+ +//' | grep -oE -- '^[a-z][a-z0-9-]*|--[a-z0-9-]+' | sort -u
}

# What the completion offers: the words of its word lists (the values of global_opts and
# commands, and each "compgen -W" list) and its case labels; comments and the code's own words
# (a variable's name, "local", "return") do not count.
completion_words() {
  local code
  code=$(sed -E 's/(^|[[:space:]])#.*$//' "$1")
  {
    # Word lists: "..." after "compgen -W" or after "global_opts=" / "commands=".
    grep -ozE -- '(compgen -W|local [a-z_]+=) *"[^"]*"' <<<"$code" | tr '\0' '\n' |
      sed -E 's/^[^"]*"//; s/"$//; s/\\$//' | tr -s '[:blank:]' '\n'
    # Case labels: "update)", "--port | --package)".
    grep -oE -- '^[[:space:]]*[a-z-][a-z0-9 |-]*\)' <<<"$code" | tr -d ')' | tr '|' '\n'
  } | tr -d ' \t' | grep -E -- '^(--)?[a-z][a-z0-9-]*$' | sort -u
}

for program in "$@"; do
  name=$(basename "$program")
  page=$packaging/man/$name.1
  [ -f "$page" ] || { fail "$name has no manual page"; continue; }
  takes=$(program_words "$program" | sort -u)
  documented=$(man_words "$page")
  for word in $(comm -23 <(echo "$takes") <(echo "$documented")); do
    fail "$name takes $word, which $page does not describe"
  done
  # Items that are not options or commands (exit codes, files) start with no letter or "-".
  for word in $(comm -13 <(echo "$takes") <(echo "$documented") | grep -E '^--' || true); do
    fail "$page describes $word, which $name does not take"
  done
  if [ "$name" = orvik-cli ]; then
    completion=$packaging/orvik-cli.bash-completion
    completes=$(completion_words "$completion")
    for word in $(comm -23 <(echo "$takes") <(echo "$completes")); do
      fail "the completion of orvik-cli does not offer $word"
    done
    offered=$(grep -E -- '^--' <<<"$completes" || true)
    for word in $(comm -23 <(echo "$offered") <(echo "$takes")); do
      fail "the completion of orvik-cli offers $word, which orvik-cli does not take"
    done
  fi
done
[ "$status" -eq 0 ] && echo "ok"
exit "$status"
