#!/usr/bin/env bash
# The main command: installs what is missing and builds the programs, makes
# the sample database "Contacts" on the handheld (in the device root) and
# shows a find and a sort on it with tbmdb, then a docked synchronisation:
# Tabulon Pro with a desktop twin of the sample, the handheld's and the
# desktop's connection services paired, a change on each side (one on both,
# to show the conflict rule), the handheld docked, and the log and the merged
# records on both sides. At the end it starts Tabulon Mobile on the
# database: in a 240 x 320 window on a display, or without one, writing
# pictures of the list and the form view beside the database.
#   scripts/run.sh             300 sample contacts
#   scripts/run.sh 2000        another number of contacts (1 to 5000)
# The machine roots are those of the user's data folder ($TBM_DEVICE_ROOT
# and $TBM_DESKTOP_ROOT when set); the sample database "Contacts" on both
# sides and the desktop's partnership are made afresh there.
set -euo pipefail
cd "$(dirname "$0")/.."
records="${1:-300}"

scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target tbmdb tbm_make_sample tabulon_mobile tabulon_pro \
  TBBridge tbm_devicelink tbm_rapi_tool tbm_desktoplink TBDeskSync TBMSYNBKCE TBDevSync

bin=build/bin
pro="$bin/Tabulon Pro"
database='\My Documents\Tabulon\Contacts.tbm'
data="${XDG_DATA_HOME:-$HOME/.local/share}"
export TBM_DEVICE_ROOT="${TBM_DEVICE_ROOT:-$data/tabulon/device}"
export TBM_DESKTOP_ROOT="${TBM_DESKTOP_ROOT:-$data/tabulon/desktop}"
work="$(mktemp -d)"
services=()
stop_services() {
  local pid
  for pid in "${services[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  services=()
}
trap 'stop_services; rm -rf "$work"' EXIT

# Waits up to $3 seconds (30) until the file $1 holds a line matching the
# extended regular expression $2; says so and fails otherwise.
wait_for() {
  local file="$1" pattern="$2" tenths=$((${3:-30} * 10))
  while ((tenths-- > 0)); do
    if grep -qE "$pattern" "$file" 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  echo "Gave up waiting for \"$pattern\" in $file:" >&2
  cat "$file" >&2 || true
  return 1
}

# Lines of the desktop connection service's log that match $1.
service_log="$TBM_DESKTOP_ROOT/log/tbm-desktoplink.log"
count_in_log() {
  if [[ -f $service_log ]]; then grep -cE "$1" "$service_log" || true; else echo 0; fi
}

# Waits until the desktop connection service has reported the synchronisation
# that follows a docking ($1: the count of finished ones before it), then
# prints what the provider said during it.
wait_for_synchronisation() {
  local before="$1" tenths=1200
  while (($(count_in_log 'the providers are done with status 3') <= before)); do
    if ((tenths-- <= 0)); then
      echo "The synchronisation did not finish within 120 seconds; see $service_log" >&2
      return 1
    fi
    sleep 0.1
  done
  # The status lines since the last docking, as the synchronisation log has them.
  awk '/reporting status 3/ { n = NR } { line[NR] = $0 } END {
         for (i = n + 1; i <= NR; i++) {
           if (sub(/^.*\] info: status: /, "", line[i])) print "  " line[i]
         }
       }' "$service_log"
}

"$bin/tbm_make_sample" --records "$records" --western --output "$work/contacts.csv"
"$bin/tbmdb" create "$work/contacts.csv" "$database" --replace --name Contacts \
  --style Category=list --values 'Category=Customer|Supplier|Partner|Press' \
  --style Active=checkbox --values 'Active=Yes' \
  --style Notes=zoom

echo
echo "== Find: the contacts in Lyon =="
"$bin/tbmdb" list "$database" --find City Lyon --fields Name,Company,City,Phone,Category
echo
echo "== Sort: the ten contacts with the most orders =="
"$bin/tbmdb" list "$database" --sort Orders --descending --fields Name,City,Orders,Born \
  --limit 10

echo
echo "== A docked synchronisation with Tabulon Pro =="
echo "Handheld: $TBM_DEVICE_ROOT"
echo "Desktop:  $TBM_DESKTOP_ROOT"
# The handheld gets the synchronisation pieces; the desktop a twin of the
# sample, which Tabulon Pro offers to the handheld (the handheld's record
# wins when a record was changed on both sides).
"$bin/tbm-devicelink" install
rm -f "$TBM_DESKTOP_ROOT/Databases/Contacts.tbp"{,-wal,-shm}
"$pro" create Contacts "$work/contacts.csv" \
  --values 'Cat=Customer|Supplier|Partner|Press' --values 'Act=Yes'
"$pro" flags Contacts --offer on --sync on
"$pro" handheld Contacts --fields 'Name,Company,City,Phone,Born,Orders,Call at,Category,Active,Notes' \
  --conflict handheld-wins --style Category=list --list Category=Cat \
  --style Active=checkbox --list Active=Act --style Notes=zoom >/dev/null

# Pairing: the handheld shows a code, the desktop types it in.
"$bin/tbm-devicelink" pair --port 0 --time-limit 60 >"$work/pair.txt" 2>&1 &
pairing=$!
wait_for "$work/pair.txt" 'on 127\.0\.0\.1:[0-9]+' 10
code="$(sed -nE 's/^Pairing code: ([0-9]{8}).*/\1/p' "$work/pair.txt")"
address="$(sed -nE 's/.* on (127\.0\.0\.1:[0-9]+).*/\1/p' "$work/pair.txt" | head -n 1)"
echo "The handheld shows the pairing code $code; the desktop pairs with it:"
"$bin/tbm-rapi" pair "$address" "$code" --name "$(hostname)"
wait "$pairing"
port="${address##*:}"

start_handheld() {
  "$bin/tbm-devicelink" run --port "$port" >"$work/devicelink.txt" 2>&1 &
  handheld=$!
  services+=("$handheld")
  wait_for "$work/devicelink.txt" 'is ready on' 10
}
start_handheld
"$pro" run Contacts --headless >"$work/tabulon-pro.txt" 2>&1 &
services+=($!)
wait_for "$work/tabulon-pro.txt" 'Tabulon Pro is running' 30
"$bin/tbm-desktoplink" register "$bin/TBDeskSync.so"
"$bin/tbm-desktoplink" set --update-on-docking on >/dev/null

echo
echo "-- The handheld docks; the first synchronisation puts the twins in step:"
finished="$(count_in_log 'the providers are done with status 3')"
"$bin/tbm-desktoplink" run --headless >"$work/desktoplink.txt" 2>&1 &
services+=($!)
wait_for_synchronisation "$finished"

echo
echo "-- The handheld is undocked, and both sides change records:"
kill -TERM "$handheld"
wait "$handheld" 2>/dev/null || true
"$bin/tbmdb" set "$database" 1 'Phone=+1 212 555-0101'
"$bin/tbmdb" set "$database" 2 City=Porto
"$bin/tbmdb" add "$database" 'Name=Ada Lovelace' City=London Category=Customer
"$pro" set Contacts 1 'Phone=+44 20 7946 0000'
"$pro" set Contacts 3 City=Madrid

echo
echo "-- The handheld docks again:"
finished="$(count_in_log 'the providers are done with status 3')"
start_handheld
wait_for_synchronisation "$finished"

echo
echo "== The merged records on the handheld (the first one changed on both sides) =="
"$bin/tbmdb" list "$database" --fields Name,City,Phone --limit 3
"$bin/tbmdb" list "$database" --find Name Ada --fields Name,City,Category
echo
echo "== ... and in Tabulon Pro =="
"$pro" list Contacts >"$work/desktop.txt"
sed -n '1,5p; /Ada Lovelace/p' "$work/desktop.txt" | cut -c 1-125
stop_services

echo
echo "The database is ${database} in the device root"
echo "(\$TBM_DEVICE_ROOT, or \$XDG_DATA_HOME/tabulon/device); try:"
echo "  $bin/tbmdb schema '${database}'"
echo "  $bin/tbmdb list '${database}' --find Name maria --sort Born"
echo
echo "== Tabulon Mobile on the database =="
echo "(\"$bin/Tabulon Mobile\" DATABASE opens any database; without one it lists them)"
"$bin/Tabulon Mobile" "$database"
