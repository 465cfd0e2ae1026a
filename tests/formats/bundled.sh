# Sourced by the round-trip scripts: the bundled plug-in that takes a file,
# by the patterns in the build's table of what ships ($KES_BUNDLED_TABLE:
# file name, description and patterns, tab separated).
plugin_for() {
  local file=${1##*/} name description patterns pattern list
  while IFS=$'\t' read -r name description patterns; do
    IFS=';' read -ra list <<<"$patterns"
    for pattern in "${list[@]}"; do
      # The pattern is matched as a wildcard, without case, as the tool does.
      # shellcheck disable=SC2053
      if [[ ${file,,} == ${pattern,,} ]]; then
        echo "${name%.cpi}"
        return
      fi
    done
  done <"${KES_BUNDLED_TABLE:?the table of bundled plug-ins}"
}
