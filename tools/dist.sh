#!/usr/bin/env bash
echo "dist is not wired up yet" >&2
exit 1
