#!/usr/bin/env bash
# Checks every #include of the libraries' own sources (not their tests/,
# bench/ or fuzz/) against the Layout table of README.md: a file may include
# headers of its own folder and of the libraries its row names under
# "may use". A library named there with "privately" may be included by the
# .cpp files only, never by a header. Qt headers only where the row names
# Qt (or "everything"). Prints each forbidden include; exit 1 if any.
set -euo pipefail
cd "$(dirname "$0")/.."

# The table's rows: folder, library, what it holds, may use.
table=$(awk '/^## Layout/ { on = 1; next } on && /^## / { on = 0 } on && /^\| `/' README.md)

declare -A folder_of allowed private qt
order=()
while IFS='|' read -r _ folder library _ uses _; do
  folder=$(sed -E 's/^ *`([^`]*)\/` *$/\1/' <<<"$folder")
  for lib in $(grep -o '`[a-z_]*`' <<<"$library" | tr -d '`'); do
    folder_of[$lib]=$folder
  done
  order+=("$folder")
  if [[ "$uses" == *"everything above"* ]]; then
    allowed[$folder]="above"
  elif [[ "$uses" == *everything* ]]; then
    allowed[$folder]="everything"
  else
    # Libraries before "privately" are public, the one(s) after it private.
    public_part=${uses%%privately*}
    allowed[$folder]=$(grep -o '`[a-z_]*`' <<<"$public_part" | tr -d '`' | tr '\n' ' ' || true)
    if [[ "$uses" == *privately* ]]; then
      private[$folder]=$(grep -o '`[a-z_]*` privately' <<<"$uses" | grep -o '`[a-z_]*`' |
        tr -d '`' | tr '\n' ' ' || true)
      allowed[$folder]=$(grep -o '`[a-z_]*`' <<<"$uses" | tr -d '`' | tr '\n' ' ' || true)
    fi
  fi
  [[ "$uses" == *Qt* || "$uses" == *everything* ]] && qt[$folder]=1
done <<<"$table"

# The folders a folder may include (its own always).
may_include() {
  local folder=$1 result="$folder" lib
  case "${allowed[$folder]}" in
    everything) echo "*"; return ;;
    above)
      for f in "${order[@]}"; do
        [ "$f" = "$folder" ] && break
        result+=" $f"
      done ;;
    *)
      for lib in ${allowed[$folder]}; do result+=" ${folder_of[$lib]}"; done ;;
  esac
  # The string tables are part of msg.
  [[ " $result " == *" msg "* ]] && result+=" res"
  echo "$result"
}

status=0
for folder in "${order[@]}"; do
  [ "${allowed[$folder]:-}" = "everything" ] && continue
  permitted=" $(may_include "$folder") "
  private_folders=" "
  for lib in ${private[$folder]:-}; do private_folders+="${folder_of[$lib]} "; done
  while IFS= read -r file; do
    [[ "$file" == */tests/* && "$folder" != tests/support ]] && continue
    while IFS=: read -r line text; do
      if [[ "$text" =~ ^#include\ \"([^\"]*)\" ]]; then
        target=${BASH_REMATCH[1]}
        [[ "$target" == */* ]] || continue
        if [[ "$target" == tests/support/* ]]; then
          target_folder=tests/support
        else
          target_folder=${target%%/*}
        fi
        if [[ "$permitted" != *" $target_folder "* ]]; then
          echo "$file:$line: $folder/ may not include $target"
          status=1
        elif [[ "$private_folders" == *" $target_folder "* && "$file" != *.cpp ]]; then
          echo "$file:$line: $folder/ uses $target_folder/ privately: not in a header ($target)"
          status=1
        fi
      elif [[ "$text" =~ ^#include\ \<(Q[A-Za-z]*)[/\>] && -z "${qt[$folder]:-}" ]]; then
        echo "$file:$line: $folder/ may not use Qt (${BASH_REMATCH[1]})"
        status=1
      fi
    done < <(grep -n '^#include' "$file" || true)
  done < <(git ls-files "$folder/*.h" "$folder/*.cpp" "$folder/*.cpp.in")
done
[ $status -eq 0 ] && echo "include check: every #include follows the Layout table of README.md"
exit $status
