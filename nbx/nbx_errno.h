// The brokering layer's error codes (left in _NBX_errno by every brokered
// operation), their texts, and the layer's version strings.
#ifndef TORVEL_NBX_NBX_ERRNO_H_
#define TORVEL_NBX_NBX_ERRNO_H_

#define NBX_ERRNO_NONE 0
#define NBX_ERRNO_SYSTEM 1001  // errno explains the reason
#define NBX_ERRNO_NO_BROKER 1002
#define NBX_ERRNO_BAD_MESSAGE 1003
#define NBX_ERRNO_BAD_MESSAGE_TYPE 1004
#define NBX_ERRNO_INTERNAL_SOCKET 1005
#define NBX_ERRNO_INVALID_ARGUMENT 1006
#define NBX_ERRNO_NOT_SUPPORTED 1007
#define NBX_ERRNO_INVALID_STATUS 1008
#define NBX_ERRNO_NOT_REGISTERED 1009
#define NBX_ERRNO_PASSIVE_SILENT 1010
#define NBX_ERRNO_UNKNOWN 1011
#define NBX_ERRNO_SENTINEL 3000  // ends NBX_errno_translation

extern "C" {

struct NBXErrnoEntry {
    int code;
    const char *text;
};

// Every code with its text, ended by an entry with code NBX_ERRNO_SENTINEL.
extern const NBXErrnoEntry NBX_errno_translation[];

// The code's text; when errno is set, "text (errno N: system text)". An
// unknown code gives "Invalid error number passed". Static 300-byte buffer,
// overwritten by the next call.
char *NBX_strerror(int code);

// "$NBXVersion: 1.3.2 $" and "$NBXBuildDate: Jul 19 2006 $"; static text.
const char *_nbx_version(void);
const char *_nbx_build_date(void);

}  // extern "C"

#endif  // TORVEL_NBX_NBX_ERRNO_H_
