#!/usr/bin/env bash
# Runs mail_servers_test.py (see there) with Debian's Python.
exec /usr/bin/python3 "$(dirname "$0")/mail_servers_test.py" "$@"
