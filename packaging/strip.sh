#!/bin/sh
# The strip of the packages' programs (CMAKE_STRIP of `make package`): as
# Debian's dh_strip strips a program, the .comment and .note sections too,
# which only name the compiler.
exec strip --remove-section=.comment --remove-section=.note "$@"
