// The C library's checking variants of the wrapped calls that read into a
// caller's buffer. Code compiled with _FORTIFY_SOURCE calls __read_chk,
// __recv_chk or __recvfrom_chk where it would call read, recv or recvfrom;
// the C library's own definitions go straight to the kernel, past the
// link-time wrapping. These definitions, which take the C library's place
// in every program linking the library, check the buffer as it would and
// then make the plain call, which --wrap turns into the brokering layer's
// (or, unwrapped, into the system's own).
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

extern "C" {

// The C library's report of an overflowing buffer: prints and aborts.
[[noreturn]] void __chk_fail(void);

ssize_t __read_chk(int fd, void *buffer, size_t size, size_t buffer_size) {
    if (size > buffer_size) {
        __chk_fail();
    }
    return read(fd, buffer, size);
}

ssize_t __recv_chk(int fd, void *buffer, size_t size, size_t buffer_size, int flags) {
    if (size > buffer_size) {
        __chk_fail();
    }
    return recv(fd, buffer, size, flags);
}

ssize_t __recvfrom_chk(int fd, void *buffer, size_t size, size_t buffer_size, int flags,
                       struct sockaddr *address, socklen_t *address_size) {
    if (size > buffer_size) {
        __chk_fail();
    }
    return recvfrom(fd, buffer, size, flags, address, address_size);
}

}  // extern "C"
