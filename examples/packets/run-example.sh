#!/bin/sh
# Runs the packet example once: packet_consumer serves a fresh pipe, the
# producer given (packet_producer, or the Python peer send.py) streams COUNT
# packets to it, and both must end with status 0, the consumer having seen
# every packet in order. Everything lives in a private temporary directory.
#   run-example.sh CONSUMER COUNT PRODUCER-COMMAND...
set -eu
consumer=$1
count=$2
shift 2

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export XDG_RUNTIME_DIR="$tmp"
name="packets-$$"

# KQ_RUN is the emulator a cross build runs its programs through, if any.
${KQ_RUN:-} "$consumer" "$name" >"$tmp/consumer.out" 2>&1 &
consumer_pid=$!
status=0
"$@" "$name" "$count" || status=$?
wait "$consumer_pid" || status=$?
cat "$tmp/consumer.out"
[ "$status" -eq 0 ] || { echo "run-example: a program failed (status $status)"; exit 1; }
grep -q "received $count packets .*, all in order" "$tmp/consumer.out" ||
  { echo "run-example: the consumer did not get all $count packets in order"; exit 1; }
