#!/bin/sh
# Started by the update with Wait=1: the update goes on when this ends.
sleep 1
echo "setup ran $(date '+%H:%M:%S')" >> "$(dirname "$0")/setup.log"
