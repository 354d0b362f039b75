// Fuzz target for stream decoding: arbitrary bytes arrive on a memory
// stream and are read through a sequence of gets that the input itself
// scripts. Input layout: one set-up byte (bits 0-1: encoding form, 0 =
// internal, otherwise portable; bit 2: 3DES encryption; bit 3: Blowfish
// encryption; bit 4: keyed digest; bits 5-7: the size of the window the
// memory stream lends, from kWindows), then the stream bytes. Each step
// reads an operation byte from the stream and decodes one value of the kind
// it names. Every allocation a get hands back is freed; nothing is kept
// between inputs.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include "diagnostics/debug_log.h"
#include "tests/stream/memory_stream.h"

const char *mySubSystem = "TOOL";

namespace {
constexpr int kMaxSteps = 64;
// 0 leaves every value to read_bytes; the small sizes end a window inside
// values.
const size_t kWindows[8] = {MemoryStream::kDefaultWindow, 0, 1, 3, 7, 8, 9, 16};

const unsigned char kCipherKey[24] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12,
                                      13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};
const unsigned char kMacKey[16] = {'f', 'u', 'z', 'z', 'm', 'a', 'c', 'k',
                                   'e', 'y', '0', '1', '2', '3', '4', '5'};

void free_startup(STARTUP_INFO &info) {
    free(info.cmd);
    free(info.args);
    free(info.env);
    free(info.iwd);
}

template <typename T>
void get_value(Stream &s) {
    T value{};
    s.code(value);
}

void decode_strings(Stream &s, unsigned op) {
    switch (op) {
        case 0: {
            char *text = nullptr;
            s.code(text);
            free(text);
            break;
        }
        case 1: {
            char buffer[32];
            s.get_string_into(buffer, sizeof(buffer));
            break;
        }
        default: {
            char *text = nullptr;  // points into the stream afterwards
            int len = 0;
            s.code(text, len);
            break;
        }
    }
}

void decode_arrays(Stream &s, unsigned op) {
    if (op == 0) {
        unsigned int *array = nullptr;
        int count = 0;
        s.code_array(array, count);
        delete[] array;
    } else {
        unsigned int room[4];
        unsigned int *array = room;
        int count = 4;
        s.code_array(array, count);
    }
}

void decode_records(Stream &s, unsigned op) {
    switch (op) {
        case 0: {
            StartdRec rec{};
            s.code(rec);
            free(rec.server);
            break;
        }
        case 1: {
            STARTUP_INFO info{};
            s.code(info);
            free_startup(info);
            break;
        }
        case 2:
            get_value<struct stat>(s);
            break;
        case 3:
            get_value<struct statfs>(s);
            break;
        case 4:
            get_value<struct rusage>(s);
            break;
        case 5:
            get_value<struct rlimit>(s);
            break;
        case 6:
            get_value<struct utsname>(s);
            break;
        case 7:
            get_value<struct timeval>(s);
            break;
        case 8:
            get_value<struct timezone>(s);
            break;
        case 9:
            get_value<struct utimbuf>(s);
            break;
        case 10:
            get_value<PROC_ID>(s);
            break;
        default:
            get_value<PORTS>(s);
            break;
    }
}

void decode_translated(Stream &s, unsigned op) {
    switch (op) {
        case 0:
            get_value<open_flags_t>(s);
            break;
        case 1:
            get_value<torvel_errno_t>(s);
            break;
        case 2:
            get_value<torvel_signal_t>(s);
            break;
        case 3:
            get_value<fcntl_cmd_t>(s);
            break;
        default:
            get_value<torvel_mode_t>(s);
            break;
    }
}

void decode_number(Stream &s, unsigned op) {
    switch (op) {
        case 0:
            get_value<char>(s);
            break;
        case 1:
            get_value<unsigned char>(s);
            break;
        case 2:
            get_value<int>(s);
            break;
        case 3:
            get_value<unsigned int>(s);
            break;
        case 4:
            get_value<long>(s);
            break;
        case 5:
            get_value<unsigned long>(s);
            break;
        case 6:
            get_value<long long>(s);
            break;
        case 7:
            get_value<unsigned long long>(s);
            break;
        case 8:
            get_value<short>(s);
            break;
        case 9:
            get_value<unsigned short>(s);
            break;
        case 10:
            get_value<float>(s);
            break;
        default:
            get_value<double>(s);
            break;
    }
}

void decode_step(Stream &s, unsigned char op) {
    unsigned variant = op >> 3;
    switch (op & 7) {
        case 0:
        case 1:
            decode_number(s, variant % 12);
            break;
        case 2:
            decode_strings(s, variant % 3);
            break;
        case 3:
            decode_arrays(s, variant % 2);
            break;
        case 4:
            decode_records(s, variant % 12);
            break;
        case 5:
            decode_translated(s, variant % 5);
            break;
        case 6: {
            unsigned char raw[16];
            s.code_bytes_bool(raw, static_cast<int>(variant % 17));
            break;
        }
        default:
            s.finish_message();
            break;
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) {
        return 0;
    }
    // Debug lines are dropped rather than kept in memory across inputs.
    _torvel_dprintf_works = 1;
    DebugFlags = 0;

    unsigned char setup = data[0];
    MemoryStream stream((setup & 3) == 0 ? Stream::internal : Stream::portable);
    stream.set_window_size(kWindows[setup >> 5]);
    stream.load(data + 1, size - 1);
    if (setup & 4) {
        KeyInfo key(kCipherKey, sizeof(kCipherKey), CIPHER_3DES);
        stream.set_crypto_key(true, &key);
    } else if (setup & 8) {
        KeyInfo key(kCipherKey, 16, CIPHER_BLOWFISH);
        stream.set_crypto_key(true, &key);
    }
    if (setup & 16) {
        KeyInfo mac_key(kMacKey, sizeof(kMacKey));
        stream.set_MD_mode(MD_ALWAYS_ON, &mac_key);
    }
    stream.decode();
    for (int step = 0; step < kMaxSteps; step++) {
        unsigned char op;
        if (!stream.get(op)) {
            break;
        }
        decode_step(stream, op);
    }
    return 0;
}
