# CHANGELOG.md in the form of a Debian changelog, for the package named by
# -v package=NAME, signed by -v maintainer="NAME <ADDRESS>": a
# "## VERSION (YYYY-MM-DD)" heading starts an entry (the Debian revision is
# 1 unless VERSION ends in its own, -2; the time noon UTC of that day), a
# "- " bullet and its lines indented by two spaces are one change. Markdown
# is turned into plain text as Debian changelogs are written: no backticks,
# and a table's rows become lines "a: b" under its change (its heading row
# and rule left out). Everything else (the file's heading and introduction)
# is left out.
function close_entry() {
  if (version != "") printf "\n -- %s  %s\n", maintainer, date
}
function plain(text) {
  gsub(/`/, "", text)
  return text
}
/^## [0-9.]+(-[0-9]+)? \([0-9]+-[0-9]+-[0-9]+\)$/ {
  close_entry()
  if (version != "") printf "\n"
  version = $2
  day = substr($3, 2, 10)
  command = "date -u -R -d '" day " 12:00'"
  command | getline date
  close(command)
  if (version !~ /-/) version = version "-1"
  printf "%s (%s) unstable; urgency=medium\n\n", package, version
  next
}
version != "" && /^- / { printf "  * %s\n", plain(substr($0, 3)); table_row = 0; next }
version != "" && /^  \|/ {
  table_row++
  if (table_row <= 2) next  # the heading and the rule
  row = substr($0, 4, length($0) - 5)  # "  | a | b |" without its outer bars
  gsub(/ \| /, ": ", row)
  printf "      %s\n", plain(row)
  next
}
version != "" && /^  [^ ]/ { printf "    %s\n", plain(substr($0, 3)); next }
version != "" && /^$/ { table_row = 0 }
END { close_entry() }
