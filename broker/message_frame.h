// Framing of the byte stream on a broker connection: when the bytes
// gathered so far make a whole message, and when they can never make one.
// The broker accepts only messages whose size field is exactly the fixed
// size of their opcode, so a peer cannot make it read fields that were
// never sent or wait for bytes that are not part of any message.
#ifndef TORVEL_BROKER_MESSAGE_FRAME_H_
#define TORVEL_BROKER_MESSAGE_FRAME_H_

namespace nbx_broker {

enum FrameStatus {
    kFrameIncomplete,  // *need says how many bytes the message has in all
    kFrameComplete,    // bytes[0 .. *need) is one whole message
    kFrameMalformed,   // size field or opcode can never be a message
};

// Examines the have bytes at the start of a connection's stream.
// REQUIRES: have >= 0; bytes holds have bytes.
FrameStatus examine_frame(const unsigned char *bytes, int have, int *need);

}  // namespace nbx_broker

#endif  // TORVEL_BROKER_MESSAGE_FRAME_H_
