# Writes the README as a Windows user reads it: README.txt with CRLF line
# ends. Run with -DIN=README.md -DOUT=README.txt.
file(READ ${IN} readme)
string(REPLACE "\n" "\r\n" readme "${readme}")
file(WRITE ${OUT} "${readme}")
