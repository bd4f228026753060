#!/bin/sh
# Starts QEMU for a test and leaves its process id in $QEMU_PID_FILE, so that
# the test can stop or kill exactly that process.
echo $$ > "$QEMU_PID_FILE"
exec qemu-system-arm "$@"
