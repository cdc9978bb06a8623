#!/bin/sh
# Doxygen's input filter for the guide's pages: a ```dot fenced block (shown
# as source on GitHub) becomes a \dot graph, drawn as a picture in the HTML.
exec awk '
  /^```dot[ \t]*$/ { print "\\dot"; inside = 1; next }
  inside && /^```[ \t]*$/ { print "\\enddot"; inside = 0; next }
  { print }
' "$1"
