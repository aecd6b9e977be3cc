#!/usr/bin/env bash
# A private CUPS server with cups-pdf queues for the printing tests; it never touches the
# system's CUPS. Needs root (the cups-pdf backend reads /etc/cups/cups-pdf-NAME.conf). The queues:
#   PDF         cups-pdf's own PPD: 300 dpi by default, A4, printable to the paper's edges
#   PDF150      the same at 150 dpi by default
#   PDFMargins  the same with an A4 printable area 18 pt in from the sides, 36 pt from top and foot
# Every document as sent is kept (PreserveJobFiles) as DIR/spool/dNNNNN-001.
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
PreserveJobFiles Yes
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
  ppd=/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd
  sed 's/^\*DefaultResolution: .*/*DefaultResolution: 150dpi/' "$ppd" > "$dir/ppd/pdf150.ppd"
  sed 's|^\*ImageableArea A4/A4: .*|*ImageableArea A4/A4: "18 36 577 806"|' "$ppd" \
    > "$dir/ppd/margins.ppd"
  grep -q '^\*DefaultResolution: 150dpi' "$dir/ppd/pdf150.ppd"
  grep -q '"18 36 577 806"' "$dir/ppd/margins.ppd"
  # lpadmin warns that PPD files are deprecated; they still work.
  lpadmin -h "$dir/cups.sock" -p PDF150 -v "cups-pdf:/$name" -P "$dir/ppd/pdf150.ppd" -E 2>/dev/null
  lpadmin -h "$dir/cups.sock" -p PDFMargins -v "cups-pdf:/$name" -P "$dir/ppd/margins.ppd" -E \
    2>/dev/null
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
