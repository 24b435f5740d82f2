#!/usr/bin/env bash
# Runs Quellcore under Wine as a user would start it.
set -eu
echo "Quellcore is built in $1; running it under Wine is not wired up yet."
exit 1
