#include "indi/fdserialport.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace tarnivel {

namespace {
constexpr int kReadChunk = 256;
} // namespace

bool FdSerialPort::attach(int fd) {
    fd_ = fd;
    lost_ = false;
    pending_.clear();
    if (fd_ < 0)
        return false;
    termios tio{};
    if (tcgetattr(fd_, &tio) == 0) {
        cfmakeraw(&tio);
        cfsetispeed(&tio, B9600);
        cfsetospeed(&tio, B9600);
        tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
        tio.c_cflag |= CS8 | CLOCAL | CREAD;
        tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        tcsetattr(fd_, TCSANOW, &tio);
    }
    // With O_NONBLOCK an empty line reads as EAGAIN, so a read of 0 bytes can only mean
    // that the other end hung up.
    const int flags = fcntl(fd_, F_GETFL);
    if (flags >= 0)
        fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
    return true;
}

void FdSerialPort::detach() {
    fd_ = -1;
    pending_.clear();
}

bool FdSerialPort::open(int) {
    return isOpen();
}

void FdSerialPort::close() {
    detach();
}

void FdSerialPort::writeByte(quint8 byte) {
    if (!isOpen())
        return;
    for (;;) {
        const ssize_t n = ::write(fd_, &byte, 1);
        if (n == 1)
            return;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EIO || errno == ENXIO || errno == EBADF))
            lost_ = true;
        return;
    }
}

void FdSerialPort::fill() {
    if (!isOpen())
        return;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0)
        return;
    if ((p.revents & POLLIN) == 0) {
        // A pseudo-terminal whose controller side closed, or a USB adapter pulled.
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL))
            lost_ = true;
        return;
    }
    char chunk[kReadChunk];
    const ssize_t n = ::read(fd_, chunk, sizeof chunk);
    if (n > 0)
        pending_.append(chunk, static_cast<qsizetype>(n));
    else if (n == 0 || (errno != EAGAIN && errno != EINTR))
        lost_ = true;
}

int FdSerialPort::bytesWaiting() {
    if (pending_.isEmpty())
        fill();
    return static_cast<int>(pending_.size());
}

int FdSerialPort::readByte() {
    if (pending_.isEmpty())
        fill();
    if (pending_.isEmpty())
        return -1;
    const int b = static_cast<quint8>(pending_.front());
    pending_.remove(0, 1);
    return b;
}

QByteArray FdSerialPort::discardInput() {
    if (isOpen()) {
        for (;;) {
            const qsizetype before = pending_.size();
            fill();
            if (pending_.size() == before)
                break;
        }
    }
    return std::exchange(pending_, QByteArray());
}

} // namespace tarnivel
