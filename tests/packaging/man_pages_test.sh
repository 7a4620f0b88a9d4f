#!/usr/bin/env bash
# Checks the man pages that help2man writes of the tools' --help as a reader meets them:
# groff has nothing to warn about, no line of the help became an indented paragraph of its
# own, and every paragraph of the help's prose is one paragraph of the page.
#
#   tests/packaging/man_pages_test.sh BUILD
set -euo pipefail

[ $# -eq 1 ] || { echo "usage: $0 BUILD" >&2; exit 2; }
build=$1

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Blanks at the start dropped and runs of them made one, as a reader does not count them.
squeezed() { sed -e 's/^ *//' -e 's/  */ /g'; }

# The help's paragraphs of prose, one a line: lines at the margin, up to a blank or an
# indented line, but for the usage and the headings of lists.
help_paragraphs() {
  awk '
    function flush() {
      if (text != "" && !(lines == 1 && text ~ /:$/) && text !~ /^Usage:/) print text
      text = ""; lines = 0
    }
    /^[^ ]/ { text = text (lines++ ? " " : "") $0; next }
    { flush() }
    END { flush() }'
}

for program in "$build/tools/cli/kl395-cli" "$build/tools/sim/kl395-sim"; do
  name=$(basename "$program")
  page="$build/packaging/$name.1"
  [ -f "$page" ] || { fail "$page is missing"; continue; }

  warnings=$(groff -man -ww -z "$page" 2>&1)
  [ -z "$warnings" ] || fail "$name.1: groff warns: $warnings"

  # help2man makes an untagged indented paragraph of an indented line that is neither an
  # option nor a list entry, such as a usage line's continuation.
  if grep -q '^\.IP' "$page"; then
    fail "$name.1: lines of the help taken for paragraphs of their own:" \
      "$(grep -A1 '^\.IP' "$page" | grep -v '^\.IP\|^--' | tr '\n' '|')"
  fi

  # So wide that a paragraph is one line.
  rendered=$(groff -man -Tascii -rLL=2000n -P-cbou "$page" 2>/dev/null | squeezed)
  count=0
  while IFS= read -r paragraph; do
    count=$((count + 1))
    grep -qxF -- "$paragraph" <<<"$rendered" ||
      fail "$name.1: this paragraph of --help is not one paragraph of the page: $paragraph"
  done < <("$program" --help | help_paragraphs | squeezed)
  [ $count -ge 3 ] || fail "$name --help: only $count paragraphs of prose found"
done

[ $failures -eq 0 ] && echo "The man pages read as their programs' --help."
exit $((failures > 0))
