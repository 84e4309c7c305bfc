# CHANGELOG.md in the form of a Debian changelog, for the package named by
# -v package=NAME: a "## VERSION (YYYY-MM-DD)" heading starts an entry (the
# Debian revision is 1 unless VERSION ends in its own, -2; the time noon UTC
# of that day), a "- " bullet and
# its lines indented by two spaces are one change. Everything else (the
# file's heading and introduction) is left out.
function close_entry() {
  if (version != "") printf "\n -- QuilloxWAVFrequency developers <quillox@example.org>  %s\n", date
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
version != "" && /^- / { printf "  * %s\n", substr($0, 3); next }
version != "" && /^  [^ ]/ { printf "    %s\n", substr($0, 3); next }
END { close_entry() }
