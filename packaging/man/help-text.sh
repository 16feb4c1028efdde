#!/bin/sh
# Runs a program with --help or --version for help2man, which finds the
# synopsis and the option list only under capitalised headings.
"$@" | sed -e 's/^usage:/Usage:/' -e 's/^options:$/Options:/'
