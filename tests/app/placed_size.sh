# Sourced by the application's shell tests.

# placed_size JOB DPI: "W H", the printer pixels at DPI that a job's page
# draws its image over (the matrix of its content, whether the image has
# one pixel a printer pixel or fewer that the printer enlarges).
placed_size() {
  grep -a -o -m1 'q [-0-9. ]* cm /Im0 Do' "$1" | awk -v r="$2" '
    function abs(v) { return v < 0 ? -v : v }
    { printf "%d %d\n", (abs($2) + abs($4)) * r / 72 + 0.5, (abs($3) + abs($5)) * r / 72 + 0.5 }'
}
