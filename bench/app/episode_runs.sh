# Shared by the scan-run benchmarks, sourced after bench/local_nginx.sh has set $work: $feeds local
# feeds that each announce one new episode of $episode_bytes bytes, the list file over them, one
# line of figures per run and the check that every episode landed intact.

# The episodes and the feeds under $work/www, the feeds pointing at $1 (the address they are served
# from).
make_feeds() {
  local base=$1
  mkdir -p "$work/www/feeds" "$work/www/episodes" "$work/program"
  for i in $(seq -f "%03g" "$feeds"); do
    head -c "$episode_bytes" /dev/urandom >"$work/www/episodes/episode-$i.mp3"
    cat >"$work/www/feeds/show-$i.xml" <<FEED
<?xml version="1.0" encoding="UTF-8"?>
<rss version="2.0"><channel><title>Show $i</title>
<item><title>Episode $i</title>
<enclosure url="$base/episodes/episode-$i.mp3" length="$episode_bytes" type="audio/mpeg"/>
</item></channel></rss>
FEED
  done
}

# The list file of the feeds at $1 into the folder $2 (which becomes $downloads): the count, one
# feed per line, then the download folder without a line end.
write_list() {
  local base=$1
  downloads=$2
  {
    printf '%d\r\n' "$feeds"
    for i in $(seq -f "%03g" "$feeds"); do printf '%s\r\n' "$base/feeds/show-$i.xml"; done
    printf '%s' "$downloads/"
  } >"$work/program/liste.pdl"
}

# Runs a program once under GNU time and prints one line of figures, with the files it left.
measure() {
  local name=$1
  shift
  /usr/bin/time -v -o "$work/time.txt" "$@" | sed 's/^/  /'
  local files
  files=$(find "$downloads" -type f 2>/dev/null | wc -l)
  awk -v name="$name" -v files="$files" -F': ' '
    /Elapsed \(wall clock\) time/ {
      n = split($2, part, ":"); wall = 0
      for (i = 1; i <= n; ++i) wall = wall * 60 + part[i]
    }
    /User time \(seconds\)/ { user = $2 }
    /System time \(seconds\)/ { sys = $2 }
    /Maximum resident set size/ { rss = $2 }
    END {
      printf "%s: wall %.2f s, CPU %.2f s (user %.2f, system %.2f), peak RSS %.1f MiB, %d files\n",
             name, wall, user + sys, user, sys, rss / 1024, files
    }' "$work/time.txt"
}

# Every episode is in the download folder with the server's bytes, and nothing else is.
check_downloads() {
  local count
  count=$(find "$downloads" -type f | wc -l)
  if [ "$count" -ne "$feeds" ]; then
    echo "FAILED: $count files in the download folder, expected $feeds" >&2
    exit 1
  fi
  for i in $(seq -f "%03g" "$feeds"); do
    local file="$downloads/episode-$i.mp3"
    if [ "$(stat -c %s "$file" 2>/dev/null)" != "$episode_bytes" ] ||
      ! cmp -s "$file" "$work/www/episodes/episode-$i.mp3"; then
      echo "FAILED: $file is missing or differs from the server's" >&2
      exit 1
    fi
  done
  echo "  all $feeds episodes present, $episode_bytes bytes each, equal to the server's"
}
