#!/bin/sh
# Starts an ORVAKELL program of /usr/lib/orvakell with the folders of the account that runs it:
# the service account "orvakell" uses the system service's state folder /var/lib/orvakell, every
# other account its own installation in ~/.local/share/orvakell. A missing settings database is
# made from the shipped one. Installed as /usr/bin/orvakell, orvakell-schedule and orvakell-setup.
set -e
prog=$(basename "$0")
if [ -z "${ORVAKELL_HOME:-}" ]; then
  if [ "$(id -un)" = orvakell ]; then
    ORVAKELL_HOME=/var/lib/orvakell
    XDG_CONFIG_HOME=${XDG_CONFIG_HOME:-/var/lib/orvakell/config}
    XDG_DATA_HOME=${XDG_DATA_HOME:-/var/lib/orvakell/data}
    export XDG_CONFIG_HOME XDG_DATA_HOME
  else
    ORVAKELL_HOME=${XDG_DATA_HOME:-$HOME/.local/share}/orvakell
  fi
  export ORVAKELL_HOME
fi
if [ ! -e "$ORVAKELL_HOME/Velmora.db" ]; then
  mkdir -p "$ORVAKELL_HOME"
  cp /usr/lib/orvakell/Velmora.db "$ORVAKELL_HOME/.Velmora.db.part"
  mv "$ORVAKELL_HOME/.Velmora.db.part" "$ORVAKELL_HOME/Velmora.db"
fi
exec "/usr/lib/orvakell/$prog" "$@"
