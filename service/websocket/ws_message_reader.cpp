#include "ws_message_reader.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "ws_codec.h"
#include "ws_log.h"

namespace {

// Memory a connection keeps between messages; more is given back once it is empty.
constexpr size_t kKeptCapacity = 256 * 1024;

int negativeCount(uint64_t count) { return count >= INT_MAX ? -INT_MAX : -int(count); }

}  // namespace

WsMessageReader::WsMessageReader(size_t maxMessage) : maxMessage_(maxMessage) {}

char* WsMessageReader::prepare(size_t want) {
    releaseDeliveredMessage();
    if (begin_ == end_) {
        begin_ = end_ = 0;
        if (buffer_.size() > kKeptCapacity) std::vector<char>().swap(buffer_);
    }
    if (buffer_.size() - end_ < want && begin_ > 0) {
        memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (buffer_.size() - end_ < want) buffer_.resize(std::max(end_ + want, buffer_.size() * 2));
    return buffer_.data() + end_;
}

void WsMessageReader::commit(size_t count) { end_ += count; }

std::string_view WsMessageReader::pending() const {
    return std::string_view(buffer_.data() + begin_, end_ - begin_);
}

void WsMessageReader::consume(size_t count) { begin_ += std::min(count, end_ - begin_); }

size_t WsMessageReader::missing() const {
    if (skip_ > 0) return 0;
    WsFrameHeader header;
    const auto* bytes = reinterpret_cast<const uint8_t*>(buffer_.data() + begin_);
    if (ws_parseFrameHeader(bytes, end_ - begin_, &header) != WsHeaderStatus::Ok) return 0;
    const uint64_t frameLength = header.headerLength + header.payloadLength;
    if (header.payloadLength > maxMessage_ || frameLength <= end_ - begin_) return 0;
    return size_t(frameLength - (end_ - begin_));
}

void WsMessageReader::reset() {
    std::vector<char>().swap(buffer_);
    std::string().swap(message_);
    begin_ = end_ = 0;
    skip_ = 0;
    messageType_ = WsData_None;
    assembling_ = discardingMessage_ = messageDelivered_ = false;
}

void WsMessageReader::releaseDeliveredMessage() {
    if (!messageDelivered_) return;
    messageDelivered_ = false;
    if (message_.capacity() > kKeptCapacity) {
        std::string().swap(message_);
    } else {
        message_.clear();
    }
}

// Drops what has arrived of a discarded frame. True when nothing of it remains to arrive.
bool WsMessageReader::skipDiscarded() {
    const uint64_t dropped = std::min<uint64_t>(skip_, end_ - begin_);
    begin_ += size_t(dropped);
    skip_ -= dropped;
    return skip_ == 0;
}

void WsMessageReader::discardFrame(uint64_t frameLength, bool endsMessage, WsReadItem* item,
                                   Ws_DataType type, uint8_t* frame) {
    skip_ = frameLength;
    discardingMessage_ = !endsMessage;
    if (item) {
        WS_ERR("warnning, pkgLen(%llu) > dataMaxLen(%d)\r\n",
               static_cast<unsigned long long>(frameLength + message_.size()), int(maxMessage_));
    }
    assembling_ = false;
    message_.clear();
    if (item) {
        *item = WsReadItem{type, reinterpret_cast<char*>(frame), 0, negativeCount(frameLength)};
    }
    skipDiscarded();
}

bool WsMessageReader::next(WsReadItem* item) {
    releaseDeliveredMessage();
    while (true) {
        if (!skipDiscarded()) return false;
        const size_t available = end_ - begin_;
        if (available == 0) return false;
        auto* frame = reinterpret_cast<uint8_t*>(buffer_.data() + begin_);
        WsFrameHeader header;
        const WsHeaderStatus status = ws_parseFrameHeader(frame, available, &header);
        if (status == WsHeaderStatus::Incomplete) return false;
        if (status == WsHeaderStatus::Invalid) {
            *item = WsReadItem{WsData_None, reinterpret_cast<char*>(frame), 0,
                               negativeCount(available)};
            begin_ = end_;
            assembling_ = discardingMessage_ = false;
            message_.clear();
            return true;
        }

        const Ws_DataType type = ws_typeOfOpcode(header.opcode);
        const bool control = type >= WsData_Close;
        const bool continues = type == WsData_Continuation && (assembling_ || discardingMessage_);
        const uint64_t frameLength = header.headerLength + header.payloadLength;
        if (continues && discardingMessage_) {
            discardFrame(frameLength, header.fin, nullptr, type, frame);
            continue;
        }
        const uint64_t messageLength = header.payloadLength + (continues ? message_.size() : 0);
        if (messageLength > maxMessage_) {
            discardFrame(frameLength, header.fin || control, item,
                         continues ? messageType_ : type, frame);
            return true;
        }
        if (available < frameLength) return false;

        const size_t payloadLength = size_t(header.payloadLength);
        uint8_t* payload = frame + header.headerLength;
        begin_ += size_t(frameLength);
        if (!control && !continues && assembling_) {
            // A new message while fragments were under way: the unfinished one is abandoned.
            assembling_ = false;
            message_.clear();
        }
        if (control || (!continues && header.fin)) {
            // A whole message in one frame: decoded in place, over its own header.
            if (header.masked) {
                ws_unmaskMove(frame, payload, payloadLength, payload - 4);
            } else {
                memmove(frame, payload, payloadLength);
            }
            frame[payloadLength] = 0;
            const int result = control ? 0 : payloadLength == 0 ? 1 : int(payloadLength);
            *item = WsReadItem{type, reinterpret_cast<char*>(frame), payloadLength, result};
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
        *item = WsReadItem{messageType_, &message_[0], message_.size(), result};
        return true;
    }
}
