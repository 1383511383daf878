#!/usr/bin/env bash
# The main command: installs what is missing, builds the tools and the
# handheld program, makes the sample database "Contacts" on the handheld (in
# the device root), shows a find and a sort on it with tbmdb, then starts
# Tabulon Mobile on it: in a 240 x 320 window on a display, or without one,
# writing pictures of the list and the form view beside the database.
#   scripts/run.sh             300 sample contacts
#   scripts/run.sh 2000        another number of contacts (1 to 5000)
set -euo pipefail
cd "$(dirname "$0")/.."
records="${1:-300}"

scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target tbmdb tbm_make_sample tabulon_mobile

bin=build/bin
database='\My Documents\Tabulon\Contacts.tbm'
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

"$bin/tbm_make_sample" --records "$records" --output "$work/contacts.csv"
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
echo "The database is ${database} in the device root"
echo "(\$TBM_DEVICE_ROOT, or \$XDG_DATA_HOME/tabulon/device); try:"
echo "  $bin/tbmdb schema '${database}'"
echo "  $bin/tbmdb list '${database}' --find Name maria --sort Born"
echo
echo "== Tabulon Mobile on the database =="
echo "(\"$bin/Tabulon Mobile\" DATABASE opens any database; without one it lists them)"
"$bin/Tabulon Mobile" "$database"
