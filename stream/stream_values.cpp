// Stream: put and get of characters and numbers in the three encoding
// forms. Portable integers are 8 bytes, most significant first; a double is
// a 31-bit fraction and an exponent, both sent as ints.
#include <endian.h>
#include <float.h>
#include <limits.h>
#include <math.h>
#include <stdint.h>
#include <string.h>

#include "diagnostics/debug_log.h"
#include "stream/stream.h"

namespace {
// Fraction scale of the portable double.
constexpr double kFractionScale = 2147483647.0;
// Exponent that marks the values frexp cannot describe. With a fraction of
// +-kFractionScale (never produced by a finite value, whose fraction is
// below 1) the ordinary rebuild gives +-infinity; with a fraction of 0 it
// stands for NaN.
constexpr int kSpecialExponent = INT_MAX;

// Byte order by conversion, not by a byte loop: one byte swap per value.
void store_be64(unsigned char *out, uint64_t value) {
    uint64_t wire = htobe64(value);
    memcpy(out, &wire, sizeof(wire));
}

uint64_t load_be64(const unsigned char *in) {
    uint64_t wire;
    memcpy(&wire, in, sizeof(wire));
    return be64toh(wire);
}

void split_double(double value, int &fraction, int &exponent) {
    if (isnan(value)) {
        fraction = 0;
        exponent = kSpecialExponent;
    } else if (isinf(value)) {
        fraction = value > 0 ? INT_MAX : -INT_MAX;
        exponent = kSpecialExponent;
    } else {
        int e = 0;
        double f = frexp(value, &e);
        fraction = static_cast<int>(trunc(f * kFractionScale));
        exponent = e;
    }
}

double join_double(int fraction, int exponent) {
    if (fraction == 0 && exponent == kSpecialExponent) {
        return NAN;
    }
    return ldexp(fraction / kFractionScale, exponent);
}

float narrow_to_float(double value) {
    // Out-of-range doubles become infinities rather than an undefined cast.
    if (value > FLT_MAX) {
        return INFINITY;
    }
    if (value < -FLT_MAX) {
        return -INFINITY;
    }
    return static_cast<float>(value);
}

// The internal form of a number: its native bytes.
template <typename T>
int get_native(Stream &stream, T &value, int (Stream::*raw)(void *, int), const char *what) {
    T native;
    if (!(stream.*raw)(&native, sizeof(native))) {
        dprintf(D_NETWORK, "Stream::get(%s) from internal failed\n", what);
        return 0;
    }
    value = native;
    return 1;
}

bool known_form(Stream::stream_code form) {
    return form == Stream::internal || form == Stream::portable || form == Stream::text;
}
}  // namespace

// The count tells which half of the int was missing.
int Stream::report_short_int(int got, const char *what) {
    if (got < 4) {
        dprintf(D_NETWORK, "Stream::get(%s) failed to read padding\n", what);
    } else {
        dprintf(D_NETWORK, "Stream::get(%s) failed to read int\n", what);
    }
    return 0;
}

// --- characters: transferred in every known form, text included ---

template <typename T>
int Stream::put_byte(T c) {
    getcount = 0;
    if (!known_form(_code)) {
        return 1;
    }
    return put_raw(&c, 1);
}

template <typename T>
int Stream::get_byte(T &c, const char *what) {
    putcount = 0;
    if (!known_form(_code)) {
        return 1;
    }
    if (!get_raw(&c, 1)) {
        dprintf(D_NETWORK, "Stream::get(%s) failed\n", what);
        return 0;
    }
    return 1;
}

int Stream::put(char c) {
    return put_byte(c);
}

int Stream::put(unsigned char c) {
    return put_byte(c);
}

int Stream::get(char &c) {
    return get_byte(c, "char");
}

int Stream::get(unsigned char &c) {
    return get_byte(c, "uchar");
}

// --- integers: 8 bytes, most significant first ---
// The window's case of every put and get is inline (stream.h); the general
// road below holds every other case and stays out of line, so the window's
// case needs no call.

namespace {
template <typename T>
int put_wide(Stream &stream, Stream::stream_code form, T value,
             int (Stream::*raw)(const void *, int)) {
    switch (form) {
        case Stream::internal:
            return (stream.*raw)(&value, sizeof(value));
        case Stream::portable: {
            // Sign-extends an int and zero-extends an unsigned int.
            unsigned char wire[8];
            store_be64(wire, static_cast<uint64_t>(value));
            return (stream.*raw)(wire, sizeof(wire));
        }
        case Stream::text:
            return 0;
        default:
            return 1;
    }
}

template <typename T>
int get_wide(Stream &stream, Stream::stream_code form, T &value, int (Stream::*raw)(void *, int),
             const char *what) {
    static_assert(sizeof(T) == 8, "wide integers travel as 8 bytes");
    switch (form) {
        case Stream::internal:
            return get_native(stream, value, raw, what);
        case Stream::portable: {
            unsigned char wire[8];
            if (!(stream.*raw)(wire, sizeof(wire))) {
                dprintf(D_NETWORK, "Stream::get(%s) failed\n", what);
                return 0;
            }
            value = static_cast<T>(load_be64(wire));
            return 1;
        }
        case Stream::text:
            return 0;
        default:
            return 1;
    }
}

// The padding of a portable int is its sign extension, of an unsigned int
// zeros: anything else is a wider value that does not fit. Logs the first
// padding byte that differs.
void report_padding(uint64_t wide, unsigned expected, const char *what) {
    for (int shift = 56; shift >= 32; shift -= 8) {
        unsigned byte = static_cast<unsigned>(wide >> shift) & 0xff;
        if (byte != expected) {
            dprintf(D_NETWORK, "Stream::get(%s) incorrect pad received: %x\n", what, byte);
            return;
        }
    }
}
}  // namespace

void Stream::report_int_padding(uint64_t wide) {
    report_padding(wide, static_cast<int32_t>(wide) < 0 ? 0xff : 0x00, "int");
}

void Stream::report_uint_padding(uint64_t wide) {
    report_padding(wide, 0x00, "uint");
}

template <typename T>
int Stream::put_integer_general(T value) {
    return put_wide(*this, _code, value, &Stream::put_raw);
}
template int Stream::put_integer_general(int);
template int Stream::put_integer_general(unsigned int);
template int Stream::put_integer_general(long);
template int Stream::put_integer_general(unsigned long);
template int Stream::put_integer_general(long long);
template int Stream::put_integer_general(unsigned long long);

template <typename T>
int Stream::get_wide_general(T &value, const char *what) {
    return get_wide(*this, _code, value, &Stream::get_raw, what);
}
template int Stream::get_wide_general(long &, const char *);
template int Stream::get_wide_general(unsigned long &, const char *);
template int Stream::get_wide_general(long long &, const char *);
template int Stream::get_wide_general(unsigned long long &, const char *);

template <typename T>
int Stream::get_word_general(T &value, const char *what) {
    switch (_code) {
        case internal:
            if (!get_native(*this, value, &Stream::get_raw, what)) {
                return 0;
            }
            break;
        case portable: {
            unsigned char wire[8];
            if (!read_padded(wire, what) || !narrow_word(load_be64(wire), value)) {
                return 0;
            }
            break;
        }
        case text:
            return 0;
        default:
            return 1;
    }
    getcount += 4;
    putcount = 0;
    return 1;
}
template int Stream::get_word_general(int &, const char *);
template int Stream::get_word_general(unsigned int &, const char *);

namespace {
// The integer puts and gets are inline; the library still carries a copy
// of each under its name, for programs that call it by that name.
struct IntegerCoders {
    int (Stream::*put_int)(int);
    int (Stream::*put_uint)(unsigned int);
    int (Stream::*put_long)(long);
    int (Stream::*put_ulong)(unsigned long);
    int (Stream::*put_llong)(long long);
    int (Stream::*put_ullong)(unsigned long long);
    int (Stream::*get_int)(int &);
    int (Stream::*get_uint)(unsigned int &);
    int (Stream::*get_long)(long &);
    int (Stream::*get_ulong)(unsigned long &);
    int (Stream::*get_llong)(long long &);
    int (Stream::*get_ullong)(unsigned long long &);
};
__attribute__((used)) const IntegerCoders kept_integer_coders = {
    &Stream::put, &Stream::put, &Stream::put, &Stream::put, &Stream::put, &Stream::put,
    &Stream::get, &Stream::get, &Stream::get, &Stream::get, &Stream::get, &Stream::get};
}  // namespace

// --- short: native 2 bytes internally, otherwise an int ---

namespace {
// Types narrower than their portable form: native bytes internally,
// otherwise coded as the wider type Wide.
template <typename Wide, typename T>
int put_narrow(Stream &stream, Stream::stream_code form, T value,
               int (Stream::*raw)(const void *, int)) {
    switch (form) {
        case Stream::internal:
            return (stream.*raw)(&value, sizeof(value));
        case Stream::portable:
            return stream.put(static_cast<Wide>(value));
        case Stream::text:
            return 0;
        default:
            return 1;
    }
}

// The decoding side of put_narrow; narrow turns the Wide value into a T.
template <typename Wide, typename T, typename Narrow>
int get_narrow(Stream &stream, Stream::stream_code form, T &value, int (Stream::*raw)(void *, int),
               const char *what, Narrow narrow) {
    switch (form) {
        case Stream::internal:
            return get_native(stream, value, raw, what);
        case Stream::portable: {
            Wide wide;
            if (!stream.get(wide)) {
                return 0;
            }
            value = narrow(wide);
            return 1;
        }
        case Stream::text:
            return 0;
        default:
            return 1;
    }
}
}  // namespace

int Stream::put(short s) {
    return put_narrow<int>(*this, _code, s, &Stream::put_raw);
}
int Stream::put(unsigned short s) {
    return put_narrow<unsigned int>(*this, _code, s, &Stream::put_raw);
}

int Stream::get(short &s) {
    return get_narrow<int>(*this, _code, s, &Stream::get_raw, "short",
                           [](int wide) { return static_cast<short>(wide); });
}

int Stream::get(unsigned short &s) {
    return get_narrow<unsigned int>(
        *this, _code, s, &Stream::get_raw, "ushort",
        [](unsigned int wide) { return static_cast<unsigned short>(wide); });
}

// --- float and double ---

int Stream::put(double d) {
    switch (_code) {
        case internal:
            return put_raw(&d, sizeof(d));
        case portable: {
            int fraction = 0;
            int exponent = 0;
            split_double(d, fraction, exponent);
            return put(fraction) && put(exponent);
        }
        case text:
            return 0;
        default:
            return 1;
    }
}

int Stream::get(double &d) {
    switch (_code) {
        case internal:
            return get_native(*this, d, &Stream::get_raw, "double");
        case portable: {
            int fraction = 0;
            int exponent = 0;
            if (!get(fraction) || !get(exponent)) {
                return 0;
            }
            d = join_double(fraction, exponent);
            return 1;
        }
        case text:
            return 0;
        default:
            return 1;
    }
}

int Stream::put(float f) {
    return put_narrow<double>(*this, _code, f, &Stream::put_raw);
}

int Stream::get(float &f) {
    return get_narrow<double>(*this, _code, f, &Stream::get_raw, "float", narrow_to_float);
}
