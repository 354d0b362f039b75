// Stream: the abstract base of every message channel. One call per value,
// code(x), sends or receives depending on the direction, so one routine
// both writes and reads a record. The base fixes the wire form of every
// value type and holds the channel's cipher and digest state; the byte
// transport (buffering, message boundaries, encrypting the bytes it moves,
// digests) belongs to the concrete subclass.
//
// Everything decoded is untrusted: lengths and counts read from the wire are
// bounded and checked before any allocation or copy, and every refusal
// returns 0 with a D_NETWORK line.
//
// Lending a window (for transport authors). One virtual write_bytes or
// read_bytes call per value costs more than encoding the value. A transport
// may instead lend the stream a contiguous span of its own buffer:
//   - lend_put_window(begin, end): free space the transport would accept
//     with write_bytes. The stream stores whole encoded values there, in
//     order, and advances; take_put_window() ends the loan and returns the
//     first byte not written, so [begin, returned) was written exactly as if
//     passed to write_bytes, and must be sent, counted and digested as such.
//   - lend_get_window(begin, end): received wire bytes not yet consumed.
//     take_get_window() ends the loan and returns the first byte the stream
//     did not consume; [begin, returned) was consumed as if by read_bytes.
// Rules that keep the bytes, the digest and every failure identical to the
// transport without a window:
//   1. Every operation of the transport that moves, inspects or digests
//      bytes (write_bytes, read_bytes, read_until, peek_byte,
//      finish_message, start_digest, close, any flush of its own) first
//      takes back the window of that direction, so earlier values keep
//      their place in the byte order.
//   2. Lend no more than write_bytes would accept: a value that does not fit
//      goes whole to write_bytes, so the transport refuses the very value it
//      would have refused without a window.
//   3. The window must stay valid until taken back; lending again replaces
//      the current loan, so take it back first.
//   4. A string whose terminator lies in the get window is handed to the
//      caller as a pointer into it, as read_until would hand it: those
//      bytes must stay in place until the next operation of the transport.
// The stream never splits a value between the window and a virtual call:
// a value that does not fit, every value while encryption is on, and raw
// code_bytes transfers go through write_bytes / read_bytes, which is where
// the transport encrypts. Window bytes are plain wire bytes. The stream
// never touches a window after take_*_window or during destruction.
//
// Process-wide state: the counters putcount and getcount.
#ifndef TORVEL_STREAM_STREAM_H_
#define TORVEL_STREAM_STREAM_H_

#include <endian.h>
#include <stdint.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/utsname.h>
#include <sys/vfs.h>
#include <utime.h>

#include <new>

#include "crypto/crypt_base.h"
#include "crypto/key_info.h"
#include "stream/stream_types.h"

// Bytes put as int or unsigned int since the last get, and the reverse.
extern int putcount;
extern int getcount;

class Stream {
 public:
    // An 8-byte value as it lies on the wire, at any alignment.
    struct WireWord {
        uint64_t big_endian;
    } __attribute__((packed));

    enum stream_code : int { internal = 0, portable = 1, text = 2 };

    // Largest string (terminator included) sent or accepted, and largest
    // array count accepted into a new array.
    static constexpr int max_string_length = 1 << 20;
    static constexpr int max_array_count = 1 << 20;

    // No cipher, encryption off, digest mode 0, direction ENCODING.
    explicit Stream(stream_code form = portable);
    // Deletes the cipher and the digest key.
    virtual ~Stream();
    Stream(const Stream &) = delete;
    Stream &operator=(const Stream &) = delete;

    // --- What a concrete stream supplies, in this order. ---
    // Bytes accepted / delivered; fewer than length is a failure.
    virtual int write_bytes(const void *data, int length) = 0;
    virtual int read_bytes(void *data, int length) = 0;
    // Points data at the next bytes of the current message up to and
    // including delimiter, inside the stream's own buffer (valid until the
    // next read); returns their count, 0 or less on failure.
    virtual int read_until(void *&data, char delimiter) = 0;
    // The next byte without consuming it; non-zero on success.
    virtual int peek_byte(char &c) = 0;
    // Ends the current message in the current direction; non-zero on success.
    virtual int finish_message() = 0;
    virtual void allow_one_empty_message();
    // Not called by the base; defined by the concrete stream.
    virtual int type() const = 0;
    virtual int timeout(int seconds) = 0;
    // The stream's own local IPv4 address as dotted text, owned by the stream.
    virtual const char *my_ip_str() = 0;
    virtual const char *peer_description() = 0;
    virtual int get_file_desc() const = 0;
    // Begins or ends digesting messages with key (borrowed for the call).
    virtual bool start_digest(TORVEL_MD_MODE mode, KeyInfo *key, const char *key_id) = 0;
    virtual bool set_key_id(const char *key_id) = 0;
    virtual const char *get_key_id() const = 0;
    virtual int close() = 0;

    // --- Direction. ---
    void encode() { _coding = ENCODING; }
    void decode() { _coding = DECODING; }
    bool is_encode() const { return _coding == ENCODING; }
    bool is_decode() const { return _coding == DECODING; }

    // --- code: get when decoding, put when encoding; 1 on success, 0 on
    // failure. REQUIRES: direction is ENCODING or DECODING (fatal otherwise).
    int code(char &c);
    int code(unsigned char &c);
    int code(int &i);
    int code(unsigned int &i);
    int code(long &l);
    int code(unsigned long &l);
    int code(long long &l);
    int code(unsigned long long &l);
    int code(short &s);
    int code(unsigned short &s);
    int code(float &f);
    int code(double &d);
    // Strings follow get(char *&) and put(const char *).
    int code(char *&s);
    int code(char *&s, int &len);
    // Raw bytes, no length: the count transferred, or -1 for len < 0.
    int code_bytes(void *p, int len);
    // True only when all len bytes were transferred.
    bool code_bytes_bool(void *p, int len);
    int code(void *&) { return 1; }

    // --- Records, coded field by field. ---
    int code(PROC_ID &id);
    int code(STARTUP_INFO &start);
    int code(PORTS &p);
    int code(StartdRec &rec);
    int code(open_flags_t &flags);
    int code(torvel_errno_t &errno_num);
    int code(torvel_signal_t &sig_num);
    int code(fcntl_cmd_t &cmd);
    int code(torvel_mode_t &mode);
    int code(struct rusage &r);
    int code(struct stat &st);
    int code(struct statfs &st);
    int code(struct timezone &tz);
    int code(struct timeval &tv);
    int code(struct utimbuf &ut);
    int code(struct rlimit &rl);
    int code(struct utsname &un);
    // Encoding: a positive count with a null array fails. Decoding into a
    // non-null array: count is its capacity on entry, and a received count
    // above it fails. Decoding into null: a new[] array of the received count
    // (at most max_array_count) the caller delete[]s; on failure array is
    // left null. count receives the received count.
    int code_array(unsigned int *&array, int &count);

    // --- put: 1 on success, 0 on failure. ---
    int put(char c);
    int put(unsigned char c);
    int put(int i);
    int put(unsigned int i);
    int put(long l);
    int put(unsigned long l);
    int put(long long l);
    int put(unsigned long long l);
    int put(short s);
    int put(unsigned short s);
    int put(float f);
    int put(double d);
    // The string with its terminator; null is sent as the null marker. A
    // string beginning with the marker byte 0xAD, or longer than
    // max_string_length, is refused: the peer could not read it back.
    int put(const char *s);
    // Exactly len bytes of data (no terminator added); null data is the null
    // string.
    int put(const char *data, int len);
    // Texts that follow one another, each with its terminator, len bytes
    // in all: as one put(const char *) of each, in one copy when the form
    // sends strings as bare bytes. REQUIRES: each text is one put accepts
    // (no leading 0xAD, shorter than max_string_length).
    int put_texts(const char *texts, int len);

    // --- get: 1 on success, 0 on failure (the value is then unchanged,
    // except the bytes of a caller's string buffer). ---
    int get(char &c);
    int get(unsigned char &c);
    int get(int &i);
    int get(unsigned int &i);
    int get(long &l);
    int get(unsigned long &l);
    int get(long long &l);
    int get(unsigned long long &l);
    int get(short &s);
    int get(unsigned short &s);
    int get(float &f);
    int get(double &d);
    // Into the caller's buffer when s is non-null (REQUIRES: it holds any
    // string the peer may send, up to max_string_length bytes), otherwise s
    // receives a new malloc()ed copy the caller free()s. The null string
    // leaves a null s unchanged and empties a caller's buffer.
    int get(char *&s);
    // As get(char *&), and len receives the length + 1. With a null s, s
    // points into a buffer owned by the stream, valid until the next read.
    int get(char *&s, int &len);
    // Bounded form for fixed buffers: a string (terminator included) longer
    // than buffer_size fails and buffer is left empty. The null string
    // becomes "".
    int get_string_into(char *buffer, int buffer_size);

    // encode(), code(value) and, when end is non-zero, finish_message().
    int snd_int(int value, int end);
    int rcv_int(int &value, int end);

    // --- Encryption and digests. ---
    // With a key: initialize_crypto(key). Without: no cipher, and
    // REQUIRES: key_id null and enable false (fatal otherwise). Then
    // set_key_id(key_id) and set_crypto_mode(enable). key is copied.
    bool set_crypto_key(bool enable, const KeyInfo *key, const char *keyId = nullptr);
    // Replaces the cipher by the one key's protocol names (none for
    // CIPHER_NONE or no key); encryption is off afterwards. True when a
    // cipher exists.
    bool initialize_crypto(const KeyInfo *key);
    // On only if enable and a cipher exists.
    void set_crypto_mode(bool enable);
    bool get_encryption() const { return crypto_mode_; }
    // Encrypt / decrypt len bytes into a new buffer (caller free()s) when
    // encryption is on; false without output otherwise.
    bool wrap(const unsigned char *in, int len, unsigned char *&out, int &out_len);
    bool unwrap(const unsigned char *in, int len, unsigned char *&out, int &out_len);
    void resetCrypto();
    // REQUIRES: a cipher exists (fatal otherwise).
    const KeyInfo &get_crypto_key() const;
    // Stores mode and a copy of key, then start_digest on the concrete stream.
    bool set_MD_mode(TORVEL_MD_MODE mode, const KeyInfo *key, const char *keyId = nullptr);
    // REQUIRES: a digest key is stored (fatal otherwise). Owned by the stream.
    KeyInfo *get_md_key() const;

 protected:
    // The windows a transport lends (see the top of this file). Lending
    // replaces the current loan of that direction; take_* ends it (a later
    // take_* returns null) and returns the first byte the stream did not
    // write or consume.
    void lend_put_window(unsigned char *begin, unsigned char *end) {
        put_next_ = begin;
        put_end_ = end;
        note_word_put_end();
    }
    unsigned char *take_put_window() {
        unsigned char *next = put_next_;
        put_next_ = put_end_ = nullptr;
        note_word_put_end();
        return next;
    }
    void lend_get_window(const unsigned char *begin, const unsigned char *end) {
        get_next_ = begin;
        get_end_ = end;
    }
    const unsigned char *take_get_window() {
        const unsigned char *next = get_next_;
        get_next_ = get_end_ = nullptr;
        return next;
    }

    TORVEL_MD_MODE md_mode() const { return md_mode_; }
    int one_empty_message_allowed() const { return allow_empty_message_flag_; }
    stream_code form() const { return _code; }
    // For subclasses that must drive the direction themselves (and tests of
    // the fatal paths).
    void set_direction(stream_coding direction) { _coding = direction; }

 private:
    template <typename T>
    int dispatch(T &value, const char *what);
    int put_string_bytes(const char *data, int len);
    int get_encrypted_string(char *&buffer, int &len);
    int get_plain_string(char *&bytes, int &len);
    int get_window_string(char *&bytes, int &len);
    int read_string(char *&bytes, int &count);
    void set_crypto_flag(bool on) {
        crypto_mode_ = on;
        words_through_windows_ = !on && _code == portable;
        note_word_put_end();
    }
    // Follows every change of the put window and of words_through_windows_.
    void note_word_put_end() { word_put_end_ = words_through_windows_ ? put_end_ : nullptr; }
    // Whether len bytes may go to the put window: they fit and encryption
    // is off.
    bool put_window_fits(int len) const { return len <= put_end_ - put_next_ && !crypto_mode_; }
    bool get_window_holds(int len) const { return len <= get_end_ - get_next_ && !crypto_mode_; }
    // All len bytes into the put window when they fit and encryption is
    // off, else through write_bytes; 1 when all were accepted.
    int put_raw(const void *data, int len) {
        if (put_window_fits(len)) {
            memcpy(put_next_, data, static_cast<size_t>(len));
            put_next_ += len;
            return 1;
        }
        return write_bytes(data, len) == len ? 1 : 0;
    }
    // len bytes from the get window when it holds them all and encryption
    // is off (returns len), else read_bytes's count.
    int take_bytes(void *data, int len) {
        if (get_window_holds(len)) {
            memcpy(data, get_next_, static_cast<size_t>(len));
            get_next_ += len;
            return len;
        }
        return read_bytes(data, len);
    }
    int get_raw(void *data, int len) { return take_bytes(data, len) == len ? 1 : 0; }
    // The common case of every 8-byte portable value, kept inline and
    // without a copy: true when value went to (came from) the window, false
    // when the value must take the general road (another form, no room,
    // encryption on) and nothing moved.
    bool put_window_be64(uint64_t value) {
        // One comparison covers the form, encryption and room: with words
        // off the end is null and the difference negative.
        intptr_t room =
            reinterpret_cast<intptr_t>(word_put_end_) - reinterpret_cast<intptr_t>(put_next_);
        if (room < 8) {
            return false;
        }
        // Stored as a word object, not as bytes: a byte store may alias
        // anything, and would make every caller reload this stream's
        // window and the counters after each value.
        new (put_next_) WireWord{htobe64(value)};
        put_next_ += sizeof(WireWord);
        return true;
    }
    bool get_window_be64(uint64_t &value) {
        if (!words_through_windows_ || get_end_ - get_next_ < 8) {
            return false;
        }
        uint64_t wire;
        memcpy(&wire, get_next_, sizeof(wire));
        get_next_ += sizeof(wire);
        value = be64toh(wire);
        return true;
    }
    // The 8 bytes of a portable int in one transfer; 0 (logged) when fewer
    // arrive.
    int read_padded(unsigned char *wire, const char *what) {
        int got = take_bytes(wire, 8);
        return got == 8 ? 1 : report_short_int(got, what);
    }
    static int report_short_int(int got, const char *what);
    // An integer put or get through the window when it can, else the
    // general road below.
    template <typename T>
    int put_be64(T value) {
        // Sign-extends a signed value and zero-extends an unsigned one.
        if (put_window_be64(static_cast<uint64_t>(value))) {
            return 1;
        }
        return put_integer_general(value);
    }
    template <typename T>
    int get_be64(T &value, const char *what) {
        uint64_t wide;
        if (!get_window_be64(wide)) {
            return get_wide_general(value, what);
        }
        value = static_cast<T>(wide);
        return 1;
    }
    // A portable int or unsigned int from its 8 wire bytes; false (logged
    // out of line) when the padding is not the value's extension.
    static bool narrow_word(uint64_t wide, int &value) {
        int low = static_cast<int>(static_cast<uint32_t>(wide));
        if (static_cast<int64_t>(wide) != low) {
            report_int_padding(wide);
            return false;
        }
        value = low;
        return true;
    }
    static bool narrow_word(uint64_t wide, unsigned int &value) {
        if (wide > UINT32_MAX) {
            report_uint_padding(wide);
            return false;
        }
        value = static_cast<unsigned int>(wide);
        return true;
    }
    static void report_int_padding(uint64_t wide);
    static void report_uint_padding(uint64_t wide);
    // Every case of an integer put or get but the window's (another form,
    // no room, encryption on), out of line.
    template <typename T>
    int put_integer_general(T value);
    template <typename T>
    int get_wide_general(T &value, const char *what);
    template <typename T>
    int get_word_general(T &value, const char *what);
    // put and get of an int or unsigned int: counted, through the window
    // when it can.
    template <typename T>
    int put_word(T value) {
        putcount += 4;
        getcount = 0;
        return put_be64(value);
    }
    template <typename T>
    int get_word(T &value, const char *what) {
        uint64_t wide;
        if (!get_window_be64(wide)) {
            return get_word_general(value, what);
        }
        if (!narrow_word(wide, value)) {
            return 0;
        }
        getcount += 4;
        putcount = 0;
        return 1;
    }
    // put and get of a char or unsigned char, in every known form.
    template <typename T>
    int put_byte(T c);
    template <typename T>
    int get_byte(T &c, const char *what);

    Torvel_Crypt_Base *crypto_;
    bool crypto_mode_;
    // Form portable and encryption off: the one test the inline integer
    // road makes besides the room in the window.
    bool words_through_windows_;
    TORVEL_MD_MODE md_mode_;
    KeyInfo *md_key_;
    stream_code _code;
    stream_coding _coding;
    int allow_empty_message_flag_;
    // The decrypted text that get(char *&, int &) hands out by pointer.
    char *decrypt_buffer_;
    // The windows lent by the transport; empty (both null) when none.
    unsigned char *put_next_;
    unsigned char *put_end_;
    // put_end_ while 8-byte words may go through the put window, else null.
    unsigned char *word_put_end_;
    const unsigned char *get_next_;
    const unsigned char *get_end_;
};

// The integer puts and gets, inline so that a value that fits the window
// costs no call; every other case goes out of line.
inline int Stream::put(int i) {
    return put_word(i);
}

inline int Stream::put(unsigned int i) {
    return put_word(i);
}

inline int Stream::put(long l) {
    return put_be64(l);
}

inline int Stream::put(unsigned long l) {
    return put_be64(l);
}

inline int Stream::put(long long l) {
    return put_be64(l);
}

inline int Stream::put(unsigned long long l) {
    return put_be64(l);
}

inline int Stream::get(int &i) {
    return get_word(i, "int");
}

inline int Stream::get(unsigned int &i) {
    return get_word(i, "uint");
}

inline int Stream::get(long &l) {
    return get_be64(l, "long");
}

inline int Stream::get(unsigned long &l) {
    return get_be64(l, "ulong");
}

inline int Stream::get(long long &l) {
    return get_be64(l, "long long");
}

inline int Stream::get(unsigned long long &l) {
    return get_be64(l, "ulong long");
}

#endif  // TORVEL_STREAM_STREAM_H_
