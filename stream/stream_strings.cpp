// Stream: strings. Unencrypted, a string is its bytes and terminator and the
// null string the single marker byte 0xAD; encrypted, either is preceded by
// an int holding its byte count. Received lengths are checked against
// max_string_length before anything is allocated, and a string must end
// exactly where its length says.
#include <stdlib.h>
#include <string.h>

#include "diagnostics/debug_log.h"
#include "stream/stream.h"

namespace {

// Texts of this many bytes or more skip the put window.
constexpr int kDirectTexts = 1024;

constexpr unsigned char kNullMarker = 0xAD;

// Return values of the internal string readers.
constexpr int kReadFailed = 0;
constexpr int kReadString = 1;
constexpr int kReadNull = 2;

bool starts_with_marker(const char *data, int len) {
    return len > 0 && static_cast<unsigned char>(data[0]) == kNullMarker;
}

// Strings travel only in the internal and portable forms: -1 to go on,
// otherwise the result to return at once (text fails, unknown forms
// succeed without transfer).
int string_form_result(Stream::stream_code form) {
    switch (form) {
        case Stream::internal:
        case Stream::portable:
            return -1;
        case Stream::text:
            return 0;
        default:
            return 1;
    }
}

bool received_length_allowed(int count) {
    if (count > Stream::max_string_length) {
        dprintf(D_NETWORK, "Stream::get(char *) refused a string of %d bytes\n", count);
        return false;
    }
    return true;
}

char *copy_of(const char *bytes, int len) {
    char *copy = static_cast<char *>(malloc(static_cast<size_t>(len)));
    if (copy != nullptr) {
        memcpy(copy, bytes, static_cast<size_t>(len));
    }
    return copy;
}
}  // namespace

int Stream::put_string_bytes(const char *data, int len) {
    if (data == nullptr) {
        if (crypto_mode_ && !put(1)) {
            return 0;
        }
        return put_raw(&kNullMarker, 1);
    }
    if (len < 0 || len > max_string_length) {
        dprintf(D_NETWORK, "Stream::put(char *) refused a string of %d bytes\n", len);
        return 0;
    }
    // A leading 0xAD would be read back as the null string (and, without
    // encryption, leave the rest of the string in the stream).
    if (starts_with_marker(data, len)) {
        dprintf(D_NETWORK, "Stream::put(char *) refused a string beginning with byte 0xAD\n");
        return 0;
    }
    if (crypto_mode_ && !put(len)) {
        return 0;
    }
    return put_raw(data, len);
}

int Stream::put(const char *s) {
    int early = string_form_result(_code);
    if (early >= 0) {
        return early;
    }
    if (s == nullptr) {
        return put_string_bytes(nullptr, 0);
    }
    size_t length = strnlen(s, static_cast<size_t>(max_string_length));
    if (length >= static_cast<size_t>(max_string_length)) {
        dprintf(D_NETWORK, "Stream::put(char *) refused a string longer than %d bytes\n",
                max_string_length - 1);
        return 0;
    }
    return put_string_bytes(s, static_cast<int>(length) + 1);
}

int Stream::put(const char *data, int len) {
    int early = string_form_result(_code);
    return early >= 0 ? early : put_string_bytes(data, len);
}

int Stream::put_texts(const char *texts, int len) {
    if (len == 0) {
        return 1;
    }
    if (string_form_result(_code) < 0 && !crypto_mode_) {
        // A window is staging the transport copies again: a block worth a
        // call of its own goes to the transport at once.
        if (len >= kDirectTexts) {
            return write_bytes(texts, len) == len ? 1 : 0;
        }
        return put_raw(texts, len);
    }
    for (const char *text = texts; text < texts + len; text += strlen(text) + 1) {
        if (!put(text)) {
            return 0;
        }
    }
    return 1;
}

// Encrypted form: the length int, then exactly that many bytes. On
// kReadString buffer is a new malloc()ed string of len bytes.
int Stream::get_encrypted_string(char *&buffer, int &len) {
    int count = 0;
    if (!get(count)) {
        dprintf(D_NETWORK, "Stream::get(char *) failed to read the string length\n");
        return kReadFailed;
    }
    if (count < 1 || count > max_string_length) {
        dprintf(D_NETWORK, "Stream::get(char *) refused a string length of %d\n", count);
        return kReadFailed;
    }
    char *bytes = static_cast<char *>(malloc(static_cast<size_t>(count)));
    if (bytes == nullptr) {
        dprintf(D_NETWORK, "Stream::get(char *) could not allocate %d bytes\n", count);
        return kReadFailed;
    }
    if (!get_raw(bytes, count)) {
        dprintf(D_NETWORK, "Stream::get(char *) failed to read %d string bytes\n", count);
        free(bytes);
        return kReadFailed;
    }
    if (static_cast<unsigned char>(bytes[0]) == kNullMarker) {
        free(bytes);
        return kReadNull;
    }
    if (bytes[count - 1] != '\0' || memchr(bytes, '\0', static_cast<size_t>(count - 1))) {
        dprintf(D_NETWORK, "Stream::get(char *) string does not end where its length says\n");
        free(bytes);
        return kReadFailed;
    }
    buffer = bytes;
    len = count;
    return kReadString;
}

// A string wholly inside the get window, read there without a virtual call;
// -1 when the window does not hold one whole (nothing is consumed then).
int Stream::get_window_string(char *&bytes, int &len) {
    if (!get_window_holds(1)) {
        return -1;
    }
    if (*get_next_ == kNullMarker) {
        get_next_++;
        return kReadNull;
    }
    size_t room = static_cast<size_t>(get_end_ - get_next_);
    const void *end = memchr(get_next_, '\0', room);
    if (end == nullptr) {
        return -1;
    }
    const unsigned char *start = get_next_;
    int count = static_cast<int>(static_cast<const unsigned char *>(end) - start) + 1;
    get_next_ += count;
    if (!received_length_allowed(count)) {
        return kReadFailed;
    }
    bytes = const_cast<char *>(reinterpret_cast<const char *>(start));
    len = count;
    return kReadString;
}

// Unencrypted form: the marker byte, or the bytes up to the terminator. On
// kReadString bytes points into the concrete stream's buffer.
int Stream::get_plain_string(char *&bytes, int &len) {
    int from_window = get_window_string(bytes, len);
    if (from_window >= 0) {
        return from_window;
    }
    char first;
    if (!peek_byte(first)) {
        dprintf(D_NETWORK, "Stream::get(char *) failed to peek\n");
        return kReadFailed;
    }
    if (static_cast<unsigned char>(first) == kNullMarker) {
        if (!get_raw(&first, 1)) {
            dprintf(D_NETWORK, "Stream::get(char *) failed to read the null marker\n");
            return kReadFailed;
        }
        return kReadNull;
    }
    void *data = nullptr;
    int count = read_until(data, '\0');
    if (count <= 0 || data == nullptr) {
        dprintf(D_NETWORK, "Stream::get(char *) failed to read a string\n");
        return kReadFailed;
    }
    if (!received_length_allowed(count)) {
        return kReadFailed;
    }
    // Guard against a transport that breaks its read_until contract.
    if (static_cast<char *>(data)[count - 1] != '\0') {
        dprintf(D_NETWORK, "Stream::get(char *) string is not terminated\n");
        return kReadFailed;
    }
    bytes = static_cast<char *>(data);
    len = count;
    return kReadString;
}

int Stream::read_string(char *&bytes, int &count) {
    return crypto_mode_ ? get_encrypted_string(bytes, count) : get_plain_string(bytes, count);
}

int Stream::get(char *&s) {
    int early = string_form_result(_code);
    if (early >= 0) {
        return early;
    }
    char *bytes = nullptr;
    int count = 0;
    bool owned = crypto_mode_;  // encrypted text arrives in a malloc()ed buffer
    int result = read_string(bytes, count);
    if (result == kReadFailed) {
        return 0;
    }
    if (result == kReadNull) {
        if (s != nullptr) {
            s[0] = '\0';
        }
        return 1;
    }
    if (s != nullptr) {
        memcpy(s, bytes, static_cast<size_t>(count));
        if (owned) {
            free(bytes);
        }
        return 1;
    }
    s = owned ? bytes : copy_of(bytes, count);
    return s != nullptr ? 1 : 0;
}

int Stream::get(char *&s, int &len) {
    int early = string_form_result(_code);
    if (early >= 0) {
        return early;
    }
    char *bytes = nullptr;
    int count = 0;
    int result = read_string(bytes, count);
    if (result == kReadFailed) {
        return 0;
    }
    if (result == kReadNull) {
        if (s != nullptr) {
            s[0] = '\0';
        }
        return 1;
    }
    if (s != nullptr) {
        memcpy(s, bytes, static_cast<size_t>(count));
        if (crypto_mode_) {
            free(bytes);
        }
    } else if (crypto_mode_) {
        // The same ownership as the unencrypted form: the stream keeps the
        // text until the next read.
        free(decrypt_buffer_);
        decrypt_buffer_ = bytes;
        s = bytes;
    } else {
        s = bytes;
    }
    len = count;
    return 1;
}

int Stream::get_string_into(char *buffer, int buffer_size) {
    if (buffer == nullptr || buffer_size <= 0) {
        return 0;
    }
    buffer[0] = '\0';
    int early = string_form_result(_code);
    if (early >= 0) {
        return early;
    }
    char *bytes = nullptr;
    int count = 0;
    int result = read_string(bytes, count);
    if (result != kReadString) {
        return result == kReadNull ? 1 : 0;
    }
    int fits = count <= buffer_size;
    if (fits) {
        memcpy(buffer, bytes, static_cast<size_t>(count));
    } else {
        dprintf(D_NETWORK, "Stream::get(char *) a string of %d bytes does not fit %d\n", count,
                buffer_size);
    }
    if (crypto_mode_) {
        free(bytes);
    }
    return fits;
}
