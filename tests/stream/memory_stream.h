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
#ifndef TORVEL_TESTS_STREAM_MEMORY_STREAM_H_
#define TORVEL_TESTS_STREAM_MEMORY_STREAM_H_

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "crypto/md_mac.h"
#include "stream/stream.h"

struct MemoryChannel {
    std::vector<unsigned char> bytes;
    size_t read_pos = 0;

    size_t available() const { return bytes.size() - read_pos; }
};

class MemoryStream : public Stream {
public:
    // channel is borrowed and must outlive the stream; null gives the stream
    // a channel of its own.
    explicit MemoryStream(stream_code form = portable, MemoryChannel *channel = nullptr)
        : Stream(form), channel_(channel != nullptr ? channel : &own_) {}
    ~MemoryStream() override { delete mac_; }

    MemoryChannel &channel() { return *channel_; }
    // Replaces the channel's contents by the given bytes, to be decoded.
    void load(const void *data, size_t size) {
        const auto *p = static_cast<const unsigned char *>(data);
        channel_->bytes.assign(p, p + size);
        channel_->read_pos = 0;
    }
    const std::vector<unsigned char> &bytes() const { return channel_->bytes; }
    // Fails writes after this many more bytes (-1: never), to test how
    // senders react to a transport that gives up.
    void fail_writes_after(long bytes) { write_budget_ = bytes; }
    using Stream::set_direction;
    const std::string &key_id() const { return key_id_; }

    int write_bytes(const void *data, int length) override {
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

    int read_bytes(void *data, int length) override {
        if (length < 0 || (data == nullptr && length > 0)) {
            return -1;
        }
        size_t n = channel_->available() < static_cast<size_t>(length) ? channel_->available()
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

    int read_until(void *&data, char delimiter) override {
        if (get_encryption()) {
            return -1;
        }
        if (channel_->available() == 0) {
            return 0;
        }
        const unsigned char *start = channel_->bytes.data() + channel_->read_pos;
        const void *end = memchr(start, static_cast<unsigned char>(delimiter), channel_->available());
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
        if (channel_->available() == 0) {
            return 0;
        }
        c = static_cast<char>(channel_->bytes[channel_->read_pos]);
        return 1;
    }

    int finish_message() override {
        if (mac_ == nullptr) {
            return 1;
        }
        if (is_encode()) {
            unsigned char *digest = mac_->computeMD();
            // The digest itself is not part of the next message's digest.
            channel_->bytes.insert(channel_->bytes.end(), digest, digest + MD5_DIGEST_LENGTH);
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

    int type() const override { return 0; }
    int timeout(int) override { return 0; }
    const char *my_ip_str() override { return "127.0.0.1"; }
    const char *peer_description() override { return "memory"; }
    int get_file_desc() const override { return -1; }

    bool start_digest(TORVEL_MD_MODE mode, KeyInfo *key, const char *key_id) override {
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
    bool set_key_id(const char *key_id) override {
        key_id_ = key_id != nullptr ? key_id : "";
        return true;
    }
    const char *get_key_id() const override { return key_id_.c_str(); }
    int close() override { return 0; }

private:
    void append(const unsigned char *data, int length) {
        if (length <= 0) {
            return;
        }
        size_t old_size = channel_->bytes.size();
        channel_->bytes.resize(old_size + static_cast<size_t>(length));
        memcpy(channel_->bytes.data() + old_size, data, static_cast<size_t>(length));
        if (mac_ != nullptr) {
            mac_->addMD(data, static_cast<unsigned long>(length));
        }
    }

    MemoryChannel own_;
    MemoryChannel *channel_;
    Torvel_MD_MAC *mac_ = nullptr;
    long write_budget_ = -1;
    std::string key_id_;
};

#endif  // TORVEL_TESTS_STREAM_MEMORY_STREAM_H_
