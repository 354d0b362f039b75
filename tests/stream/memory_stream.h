// MemoryStream: a Stream whose transport is a byte buffer in memory, for the
// stream tests, the stream benchmark and the stream fuzz target. Two streams
// can share one MemoryChannel: one writes, the other reads, each with its
// own cipher state, the way two ends of a connection would.
//
// Transport rules: when encryption is on, write_bytes stores wrap()ped bytes
// and read_bytes unwrap()s what it takes (read_until and peek_byte see the
// raw bytes, which the base only uses unencrypted). With a digest started,
// every byte on the wire is fed to the MAC; finish_message appends (when
// encoding) or reads and checks (when decoding) the 16-byte digest.
//
// Windows: the stream keeps a put window of staging space lent (no more
// than a write budget still allows), renewed by write_bytes and the
// accessors below, and lends a get window over the received bytes after
// load and each read_bytes; each at most window_size() bytes, 0 turning
// both off and leaving every value to the virtual calls. Every transport
// call and accessor takes the windows back first. A channel shared by two
// streams knows which one reads through a window into its bytes, and any
// change of the bytes through a stream makes that one take it back.
#ifndef TORVEL_TESTS_STREAM_MEMORY_STREAM_H_
#define TORVEL_TESTS_STREAM_MEMORY_STREAM_H_

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "crypto/md_mac.h"
#include "stream/stream.h"

class MemoryStream;

struct MemoryChannel {
    std::vector<unsigned char> bytes;
    size_t read_pos = 0;
    // The stream whose get window points into bytes, if any.
    MemoryStream *window_reader = nullptr;

    size_t available() const { return bytes.size() - read_pos; }
};

class MemoryStream : public Stream {
 public:
    static constexpr size_t kDefaultWindow = 8192;

    // channel is borrowed and must outlive the stream; null gives the stream
    // a channel of its own.
    explicit MemoryStream(stream_code form = portable, MemoryChannel *channel = nullptr)
        : Stream(form), channel_(channel != nullptr ? channel : &own_) {
        lend_staging();
    }
    ~MemoryStream() override {
        take_back_windows();
        delete mac_;
    }

    // The state Stream keeps for its concrete streams, read as one does.
    using Stream::md_mode;
    using Stream::one_empty_message_allowed;

    MemoryChannel &channel() {
        take_back_windows();
        lend_staging();
        return *channel_;
    }
    // Replaces the channel's contents by the given bytes, to be decoded.
    void load(const void *data, size_t size) {
        take_back_windows();
        release_reader();
        const auto *p = static_cast<const unsigned char *>(data);
        channel_->bytes.assign(p, p + size);
        channel_->read_pos = 0;
        lend_received();
    }
    const std::vector<unsigned char> &bytes() {
        take_back_windows();
        lend_staging();
        return channel_->bytes;
    }
    // Fails writes after this many more bytes (-1: never), to test how
    // senders react to a transport that gives up.
    void fail_writes_after(long bytes) {
        take_back_windows();
        write_budget_ = bytes;
        lend_staging();
    }
    // Largest window lent from now on; 0 for none.
    void set_window_size(size_t bytes) {
        take_back_windows();
        window_size_ = bytes;
        lend_staging();
    }
    size_t window_size() const { return window_size_; }
    using Stream::set_direction;
    const std::string &key_id() const { return key_id_; }

    // Ends both loans: written window bytes join the channel, consumed ones
    // leave it, each through the digest as if moved by write_bytes or
    // read_bytes.
    void take_back_windows() {
        take_back_put_window();
        take_back_get_window();
    }

    int write_bytes(const void *data, int length) override {
        take_back_windows();
        int accepted = write_through(data, length);
        lend_staging();
        return accepted;
    }

    int read_bytes(void *data, int length) override {
        take_back_windows();
        int delivered = read_through(data, length);
        lend_received();
        return delivered;
    }

    int read_until(void *&data, char delimiter) override {
        take_back_windows();
        if (get_encryption()) {
            return -1;
        }
        if (channel_->available() == 0) {
            return 0;
        }
        const unsigned char *start = channel_->bytes.data() + channel_->read_pos;
        const void *end =
            memchr(start, static_cast<unsigned char>(delimiter), channel_->available());
        if (end == nullptr) {
            return 0;
        }
        size_t n = static_cast<const unsigned char *>(end) - start + 1;
        if (mac_ != nullptr) {
            mac_->addMD(start, n);
        }
        data = const_cast<unsigned char *>(start);
        channel_->read_pos += n;
        return static_cast<int>(n);
    }

    int peek_byte(char &c) override {
        take_back_windows();
        if (channel_->available() == 0) {
            return 0;
        }
        c = static_cast<char>(channel_->bytes[channel_->read_pos]);
        return 1;
    }

    int finish_message() override {
        take_back_windows();
        int result = finish_through();
        lend_staging();
        return result;
    }

    int type() const override { return 0; }
    int timeout(int) override { return 0; }
    const char *my_ip_str() override { return "127.0.0.1"; }
    const char *peer_description() override { return "memory"; }
    int get_file_desc() const override { return -1; }

    bool start_digest(TORVEL_MD_MODE mode, KeyInfo *key, const char *key_id) override {
        take_back_windows();
        bool started = start_mac(mode, key, key_id);
        lend_staging();
        return started;
    }
    bool set_key_id(const char *key_id) override {
        key_id_ = key_id != nullptr ? key_id : "";
        return true;
    }
    const char *get_key_id() const override { return key_id_.c_str(); }
    int close() override {
        take_back_windows();
        return 0;
    }

 private:
    int finish_through() {
        if (mac_ == nullptr) {
            return 1;
        }
        if (is_encode()) {
            unsigned char *digest = mac_->computeMD();
            // The digest itself is not part of the next message's digest.
            grow(digest, MD5_DIGEST_LENGTH);
            free(digest);
            return 1;
        }
        if (channel_->available() < MD5_DIGEST_LENGTH) {
            mac_->init();
            return 0;
        }
        const unsigned char *digest = channel_->bytes.data() + channel_->read_pos;
        channel_->read_pos += MD5_DIGEST_LENGTH;
        return mac_->verifyMD(digest) ? 1 : 0;
    }

    bool start_mac(TORVEL_MD_MODE mode, KeyInfo *key, const char *key_id) {
        delete mac_;
        mac_ = nullptr;
        if (mode == MD_OFF) {
            return true;
        }
        if (key == nullptr) {
            return false;
        }
        mac_ = new Torvel_MD_MAC(key);
        set_key_id(key_id);
        return true;
    }

    // The transport proper, without windows.
    int write_through(const void *data, int length) {
        if (length < 0 || (data == nullptr && length > 0)) {
            return -1;
        }
        if (write_budget_ >= 0 && length > write_budget_) {
            return 0;
        }
        if (write_budget_ >= 0) {
            write_budget_ -= length;
        }
        const auto *plain = static_cast<const unsigned char *>(data);
        if (get_encryption() && length > 0) {
            unsigned char *wire = nullptr;
            int wire_len = 0;
            if (!wrap(plain, length, wire, wire_len)) {
                return 0;
            }
            append(wire, wire_len);
            free(wire);
        } else {
            append(plain, length);
        }
        return length;
    }

    int read_through(void *data, int length) {
        if (length < 0 || (data == nullptr && length > 0)) {
            return -1;
        }
        size_t n = channel_->available() < static_cast<size_t>(length)
                       ? channel_->available()
                       : static_cast<size_t>(length);
        const unsigned char *wire = channel_->bytes.data() + channel_->read_pos;
        if (mac_ != nullptr) {
            mac_->addMD(wire, n);
        }
        if (get_encryption() && n > 0) {
            unsigned char *plain = nullptr;
            int plain_len = 0;
            if (!unwrap(wire, static_cast<int>(n), plain, plain_len)) {
                return -1;
            }
            memcpy(data, plain, n);
            free(plain);
        } else if (n > 0) {
            memcpy(data, wire, n);
        }
        channel_->read_pos += n;
        return static_cast<int>(n);
    }

    // Staging space, cut to what the write budget still accepts.
    void lend_staging() {
        size_t room = window_size_;
        if (write_budget_ >= 0 && static_cast<size_t>(write_budget_) < room) {
            room = static_cast<size_t>(write_budget_);
        }
        if (room == 0) {
            return;
        }
        if (staging_.size() < room) {
            staging_.resize(room);
        }
        lend_put_window(staging_.data(), staging_.data() + room);
        put_lent_ = true;
    }

    void take_back_put_window() {
        if (!put_lent_) {
            return;
        }
        put_lent_ = false;
        int used = static_cast<int>(take_put_window() - staging_.data());
        if (write_budget_ >= 0) {
            write_budget_ -= used;
        }
        append(staging_.data(), used);
    }

    void lend_received() {
        size_t room = channel_->available() < window_size_ ? channel_->available() : window_size_;
        if (room == 0) {
            return;
        }
        if (channel_->window_reader != nullptr) {
            channel_->window_reader->take_back_get_window();
        }
        get_lent_from_ = channel_->bytes.data() + channel_->read_pos;
        lend_get_window(get_lent_from_, get_lent_from_ + room);
        channel_->window_reader = this;
    }

    void take_back_get_window() {
        if (get_lent_from_ == nullptr) {
            return;
        }
        size_t used = static_cast<size_t>(take_get_window() - get_lent_from_);
        if (mac_ != nullptr) {
            mac_->addMD(get_lent_from_, used);
        }
        channel_->read_pos += used;
        get_lent_from_ = nullptr;
        release_reader();
    }

    void release_reader() {
        if (channel_->window_reader == this) {
            channel_->window_reader = nullptr;
        }
    }

    // Every change of the channel's bytes goes through here, so a reader's
    // window never points into a moved buffer.
    void grow(const unsigned char *data, int length) {
        if (channel_->window_reader != nullptr) {
            channel_->window_reader->take_back_get_window();
        }
        channel_->bytes.insert(channel_->bytes.end(), data, data + length);
    }

    void append(const unsigned char *data, int length) {
        if (length <= 0) {
            return;
        }
        grow(data, length);
        if (mac_ != nullptr) {
            mac_->addMD(data, static_cast<unsigned long>(length));
        }
    }

    MemoryChannel own_;
    MemoryChannel *channel_;
    Torvel_MD_MAC *mac_ = nullptr;
    long write_budget_ = -1;
    std::string key_id_;
    size_t window_size_ = kDefaultWindow;
    std::vector<unsigned char> staging_;
    bool put_lent_ = false;
    // Where the current get window began; null when none is lent.
    const unsigned char *get_lent_from_ = nullptr;
};

#endif  // TORVEL_TESTS_STREAM_MEMORY_STREAM_H_
