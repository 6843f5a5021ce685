#include "ws_message_reader.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "ws_codec.h"
#include "ws_log.h"

namespace {

// Longest payload of a control frame.
constexpr uint64_t kMaxControlPayload = 125;

int negativeCount(uint64_t count) {
    return count >= INT_MAX ? -INT_MAX : -int(std::max<uint64_t>(count, 1));
}

}  // namespace

WsMessageReader::WsMessageReader(size_t maxMessage) : maxMessage_(maxMessage) {}

char* WsMessageReader::prepare(size_t want) {
    releaseDeliveredMessage();
    if (begin_ == end_) begin_ = end_ = 0;
    if (buffer_.size() - end_ < want && begin_ > 0) {
        memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (buffer_.size() - end_ < want) {
        // Grow geometrically, but never past what the frame at the front still needs, so a
        // connection holds about what it was sent.
        const size_t needed = end_ + std::max(want, missing());
        buffer_.resize(std::max(end_ + want, std::min(buffer_.size() * 2, needed)));
    }
    return buffer_.data() + end_;
}

void WsMessageReader::commit(size_t count) {
    if (failed_) {
        begin_ = end_;  // nothing after a failure is read any more
        return;
    }
    end_ += count;
}

std::string_view WsMessageReader::pending() const {
    return std::string_view(buffer_.data() + begin_, end_ - begin_);
}

void WsMessageReader::consume(size_t count) { begin_ += std::min(count, end_ - begin_); }

size_t WsMessageReader::missing() const {
    WsFrameHeader header;
    const auto* bytes = reinterpret_cast<const uint8_t*>(buffer_.data() + begin_);
    if (ws_parseFrameHeader(bytes, end_ - begin_, &header) != WsHeaderStatus::Ok) return 0;
    const uint64_t frameLength = header.headerLength + header.payloadLength;
    if (header.payloadLength > maxMessage_ || frameLength <= end_ - begin_) return 0;
    return size_t(frameLength - (end_ - begin_));
}

bool WsMessageReader::holdsPartialMessage() const { return begin_ != end_ || assembling_; }

size_t WsMessageReader::heldBytes() const {
    return buffer_.capacity() + (message_.empty() ? 0 : message_.capacity());
}

void WsMessageReader::reset() {
    std::vector<char>().swap(buffer_);
    std::string().swap(message_);
    begin_ = end_ = 0;
    messageType_ = WsData_None;
    assembling_ = messageDelivered_ = failed_ = false;
}

void WsMessageReader::releaseDeliveredMessage() {
    if (!messageDelivered_) return;
    messageDelivered_ = false;
    std::string().swap(message_);
}

bool WsMessageReader::fail(uint16_t closeCode, Ws_DataType type, uint8_t* frame, size_t count,
                           WsReadItem* item) {
    *item = WsReadItem{type, reinterpret_cast<char*>(frame), 0, negativeCount(count), closeCode};
    failed_ = true;
    assembling_ = false;
    begin_ = end_;
    std::string().swap(message_);
    return true;
}

bool WsMessageReader::next(WsReadItem* item) {
    releaseDeliveredMessage();
    while (!failed_) {
        const size_t available = end_ - begin_;
        if (available == 0) {
            // Between messages a connection holds no memory at all.
            if (!assembling_) {
                std::vector<char>().swap(buffer_);
                begin_ = end_ = 0;
            }
            return false;
        }
        auto* frame = reinterpret_cast<uint8_t*>(buffer_.data() + begin_);
        WsFrameHeader header;
        const WsHeaderStatus status = ws_parseFrameHeader(frame, available, &header);
        if (status == WsHeaderStatus::Incomplete) return false;
        if (status == WsHeaderStatus::Invalid) {
            return fail(kWsCloseProtocolError, WsData_None, frame, available, item);
        }

        const Ws_DataType type = ws_typeOfOpcode(header.opcode);
        const bool control = type >= WsData_Close;
        const bool continues = type == WsData_Continuation && assembling_;
        const uint64_t frameLength = header.headerLength + header.payloadLength;
        if (control && header.payloadLength > kMaxControlPayload) {
            return fail(kWsCloseProtocolError, type, frame, available, item);
        }
        if (!control && !continues && assembling_) {
            // A new message while fragments were under way.
            return fail(kWsCloseProtocolError, type, frame, available, item);
        }
        const uint64_t messageLength = header.payloadLength + (continues ? message_.size() : 0);
        if (messageLength > maxMessage_) {
            WS_ERR("warnning, pkgLen(%llu) > dataMaxLen(%d)\r\n",
                   static_cast<unsigned long long>(messageLength), int(maxMessage_));
            return fail(kWsCloseMessageTooBig, continues ? messageType_ : type, frame, available,
                        item);
        }
        if (available < frameLength) return false;

        const size_t payloadLength = size_t(header.payloadLength);
        uint8_t* payload = frame + header.headerLength;
        begin_ += size_t(frameLength);
        if (control || (!continues && header.fin)) {
            // A whole message in one frame: decoded in place, over its own header.
            if (header.masked) {
                ws_unmaskMove(frame, payload, payloadLength, payload - 4);
            } else {
                memmove(frame, payload, payloadLength);
            }
            frame[payloadLength] = 0;
            const int result = control ? 0 : payloadLength == 0 ? 1 : int(payloadLength);
            *item = WsReadItem{type, reinterpret_cast<char*>(frame), payloadLength, result, 0};
            return true;
        }
        if (!continues) {
            message_.clear();
            messageType_ = type;
            assembling_ = true;
        }
        const size_t joined = message_.size();
        message_.resize(joined + payloadLength);
        auto* target = reinterpret_cast<uint8_t*>(&message_[0]) + joined;
        if (header.masked) {
            ws_unmaskMove(target, payload, payloadLength, payload - 4);
        } else {
            memcpy(target, payload, payloadLength);
        }
        if (!header.fin) continue;
        assembling_ = false;
        messageDelivered_ = true;
        const int result = message_.empty() ? 1 : int(message_.size());
        *item = WsReadItem{messageType_, &message_[0], message_.size(), result, 0};
        return true;
    }
    return false;
}
