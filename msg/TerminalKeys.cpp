#include "msg/TerminalKeys.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace {

// One byte, or -1 at end of input, on an error, or when a handled signal
// (an interrupt the user sent) cut the wait short: a prompt then answers
// its negative button instead of ignoring the interrupt.
int ReadByte(int fd) {
    unsigned char byte = 0;
    return ::read(fd, &byte, 1) == 1 ? byte : -1;
}

int ReadCharacter(int fd) {
    const int lead = ReadByte(fd);
    if (lead < 0x80) {
        return lead;
    }
    int length = 0;
    int value = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07;
    } else {
        return 0xFFFD;
    }
    for (int i = 1; i < length; ++i) {
        const int byte = ReadByte(fd);
        if (byte < 0) {
            return -1;
        }
        if ((byte & 0xC0) != 0x80) {
            return 0xFFFD;
        }
        value = (value << 6) | (byte & 0x3F);
    }
    return value;
}

}  // namespace

int ReadTerminalKey(int fd) {
    termios saved{};
    if (fd < 0 || ::tcgetattr(fd, &saved) != 0) {
        return -1;
    }
    termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    // TCSANOW keeps keys typed before the prompt; TCSAFLUSH would drop them.
    if (::tcsetattr(fd, TCSANOW, &raw) != 0) {
        return -1;
    }
    const int key = ReadCharacter(fd);
    ::tcsetattr(fd, TCSANOW, &saved);
    return key;
}

int ReadControllingTerminalKey() {
    const int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return -1;
    }
    const int key = ReadTerminalKey(fd);
    ::close(fd);
    return key;
}
