#!/usr/bin/env bash
# A private CUPS server with one cups-pdf queue named PDF, for the printing tests; it never
# touches the system's CUPS. Needs root (the cups-pdf backend reads /etc/cups/cups-pdf-NAME.conf).
#   private_cups.sh start DIR   starts cupsd on DIR/cups.sock; PDFs appear under DIR/out
#   private_cups.sh stop DIR    stops it and removes the queue's configuration file
set -euo pipefail
action=$1
dir=$(realpath "$2")
name=pixmoor-test-$(basename "$dir")
conf=/etc/cups/cups-pdf-$name.conf

case "$action" in
start)
  mkdir -p "$dir"/{spool,tmp,cache,state,log,out,pdf-spool,ppd}
  chmod 0755 "$dir" "$dir/out"
  chmod 1777 "$dir/tmp" # the filters run as lp and write their temporary files here
  cat > "$dir/cups-files.conf" <<CONF
ServerRoot $dir
RequestRoot $dir/spool
TempDir $dir/tmp
CacheDir $dir/cache
StateDir $dir/state
AccessLog $dir/log/access_log
ErrorLog $dir/log/error_log
PageLog $dir/log/page_log
SystemGroup root
CONF
  cat > "$dir/cupsd.conf" <<CONF
Listen $dir/cups.sock
Browsing No
WebInterface No
DefaultAuthType None
LogLevel warn
<Location />
  Order allow,deny
  Allow all
</Location>
<Location /admin>
  Order allow,deny
  Allow all
</Location>
CONF
  cat > "$conf" <<CONF
Out $dir/out
AnonDirName $dir/out
Spool $dir/pdf-spool
Log $dir/log
UserPrefix
CONF
  cupsd -t -c "$dir/cupsd.conf" -s "$dir/cups-files.conf" >/dev/null
  cupsd -f -c "$dir/cupsd.conf" -s "$dir/cups-files.conf" >"$dir/log/cupsd.out" 2>&1 &
  echo $! > "$dir/cupsd.pid"
  # lpstat -r exits 0 either way: wait for its "is running".
  for _ in $(seq 200); do
    [ -S "$dir/cups.sock" ] && lpstat -h "$dir/cups.sock" -r 2>/dev/null | grep -q "is running" &&
      break
    sleep 0.05
  done
  lpadmin -h "$dir/cups.sock" -p PDF -v "cups-pdf:/$name" -m lsb/usr/cups-pdf/CUPS-PDF_opt.ppd -E
  lpadmin -h "$dir/cups.sock" -d PDF
  ;;
stop)
  if [ -f "$dir/cupsd.pid" ]; then
    pid=$(cat "$dir/cupsd.pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    rm -f "$dir/cupsd.pid"
  fi
  rm -f "$conf"
  ;;
*)
  echo "usage: $0 start|stop DIR" >&2
  exit 2
  ;;
esac
