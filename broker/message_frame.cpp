// Whole-message detection on a broker connection, over the layer's own
// message table (_CB_msgSize).
#include "broker/message_frame.h"

#include "nbx/broker_message.h"

namespace nbx_broker {

FrameStatus examine_frame(const unsigned char *bytes, int have, int *need) {
    if (have < 2) {
        *need = 2;
        return kFrameIncomplete;
    }
    int size = (bytes[0] << 8) | bytes[1];
    if (size < CB_MSG_HEADER || size > CB_MSG_MAX) return kFrameMalformed;
    *need = size;
    if (have < CB_MSG_HEADER) return kFrameIncomplete;
    if (_CB_msgSize(static_cast<char>(bytes[2])) != size) return kFrameMalformed;
    return have >= size ? kFrameComplete : kFrameIncomplete;
}

}  // namespace nbx_broker
