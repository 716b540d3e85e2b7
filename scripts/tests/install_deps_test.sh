#!/usr/bin/env bash
# install-deps.sh against stand-ins for dpkg-query, apt-get and sudo: with everything
# installed it says so in one line and touches nothing; otherwise it names what is missing
# and installs only that.
set -euo pipefail
script="$(cd "$(dirname "$0")/.." && pwd)/install-deps.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"

# dpkg-query -W -f=FORMAT PACKAGE...: every package installed except those in $MISSING.
cat >"$work/bin/dpkg-query" <<'STUB'
#!/usr/bin/env bash
shift 2
for p in "$@"; do
  if [[ " ${MISSING:-} " == *" $p "* ]]; then echo "$p not-installed"; else echo "$p installed"; fi
done
STUB
for tool in apt-get sudo npm; do
  printf '#!/usr/bin/env bash\necho "%s $*" >>"$CALLS"\n' "$tool" >"$work/bin/$tool"
done
chmod +x "$work/bin/"*
export PATH="$work/bin:$PATH" CALLS="$work/calls"

fail() { echo "FAIL: $*"; exit 1; }

# Everything present: one line, exit 0, no apt-get, no sudo.
out=$(MISSING= "$script")
[[ "$out" =~ ^install-deps:\ all\ [0-9]+\ packages\ are\ installed\;\ nothing\ to\ do$ ]] ||
  fail "no-op run said: $out"
[ ! -e "$CALLS" ] || fail "no-op run called: $(cat "$CALLS")"

# --check with two packages missing: names them, exit 1, installs nothing.
status=0
out=$(MISSING="sox chromium" "$script" --check) || status=$?
[ "$status" = 1 ] || fail "--check exit status $status"
[ "$out" = "install-deps: missing sox chromium" ] || fail "--check said: $out"
[ ! -e "$CALLS" ] || fail "--check called: $(cat "$CALLS")"

# A real run installs only what is missing (as root), or hands itself to sudo.
out=$(MISSING="sox" "$script")
if [ "$(id -u)" = 0 ]; then
  [ "$(cat "$CALLS")" = "$(printf 'apt-get update -q\napt-get install -y -q --no-install-recommends sox')" ] ||
    fail "install called: $(cat "$CALLS")"
else
  [ "$(cat "$CALLS")" = "sudo -E $script" ] || fail "install called: $(cat "$CALLS")"
fi
echo "ok"
