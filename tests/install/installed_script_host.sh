#!/usr/bin/env bash
# An installed chenglan-cli runs a page's engine scripts in the script host
# installed with it (PREFIX/libexec/chenglan/), not in the build tree's one
# nor in process. The installed host is wrapped so that its start leaves a mark.
#   installed_script_host.sh BUILD_DIR CLI_NAME HOST_NAME
set -euo pipefail
build="$1" cli="$2" host="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" --component client >/dev/null
installed_host="$work/prefix/libexec/chenglan/$host"
[ -x "$installed_host" ] || { echo "no script host at $installed_host"; exit 1; }
mv "$installed_host" "$installed_host.real"
cat >"$installed_host" <<WRAP
#!/bin/sh
touch "$work/host-started"
exec "$installed_host.real" "\$@"
WRAP
chmod +x "$installed_host"

# Beyond the plain subset the page's scripts run without the engine.
cat >"$work/page.html" <<'PAGE'
<!DOCTYPE html><html><head><meta charset="utf-8"></head><body>
<script>document.write("<p>" + ["a", "b"].map(function (x) { return x + /(c+)/.exec("xccx")[1]; }).join("|") + "</p>");</script>
</body></html>
PAGE
out="$(cd "$work" && env -u CHENGLAN_SCRIPT_HOST "$work/prefix/bin/$cli" render "$work/page.html")"
[ "$out" = "acc|bcc" ] || { echo "unexpected render: $out"; exit 1; }
[ -e "$work/host-started" ] || { echo "the installed client did not start $installed_host"; exit 1; }
echo "ok: the installed client ran the page's script in $installed_host"
