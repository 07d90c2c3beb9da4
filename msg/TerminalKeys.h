// Single keys from a terminal, without echo. The only place of this library
// that talks to the terminal driver.
#pragma once

// Reads one key from the terminal open on fd: switches it to non-canonical
// mode without echo (signals stay on, pending input is kept), reads one
// UTF-8 character and restores the previous settings. Returns the key's code
// point (Enter arrives as 10 or 13 depending on the terminal's settings; a
// malformed sequence gives U+FFFD), or -1 when fd is no terminal, the read
// fails or the terminal has hung up.
int ReadTerminalKey(int fd);

// ReadTerminalKey on the process's controlling terminal (/dev/tty); -1 when
// the process has none.
int ReadControllingTerminalKey();
