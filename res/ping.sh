#!/bin/sh
# The connectivity check of the window's "Проверка связи с сервером" button: a few pings of
# the server address stored in brin.ini, beside this script. Edit it as you like.
ip=$(sed -n 's/^IP[ \t]*=[ \t]*\([0-9.]*\).*/\1/p' brin.ini | head -n 1)
if [ -z "$ip" ]; then
    echo "brin.ini holds no server address (IP): set it in Установки."
    exit 1
fi
if ! command -v ping >/dev/null 2>&1; then
    echo "ping is not installed on this system."
    exit 1
fi
echo "ping $ip"
exec ping -c 4 -W 2 "$ip"
