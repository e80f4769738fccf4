exit 1
