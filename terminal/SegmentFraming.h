// Kind-tagged segments: the framing of JSON commands and file transfer on top of HID reports.
//
// A segment is the payload of one report: kind (1 byte), data length (2 bytes, big-endian),
// then the data. A JSON message travels as consecutive segments of one kind; the receiver knows
// the last one by its content, with no count or terminator on the wire.
//
// Both ends of the link (the driver and the terminal simulator) use this one rule.
#pragma once

namespace countermate::segment {

constexpr int kHeaderBytes = 3;

enum Kind : unsigned char {
    kPushAnnouncement = 0,
    kPushData = 1,
    kPull = 2,
    kCancel = 3,
    kCommand = 4,
    kPullAcknowledgement = 5,
};

inline int DeclaredLength(const unsigned char* segment) { return segment[1] * 256 + segment[2]; }

inline void WriteHeader(unsigned char* segment, int kind, int length) {
    segment[0] = static_cast<unsigned char>(kind);
    segment[1] = static_cast<unsigned char>(length / 256);
    segment[2] = static_cast<unsigned char>(length % 256);
}

// Decides where a JSON message split over segments ends.
//
// A segment ends the message when its last data byte is "}" and the byte after its data in the
// report is 0; the JSON text need not be balanced, since the sender pads every report with
// zeros. A segment that fills its report has no byte after its data: it ends the message when
// its last byte is "}" and the braces of the whole message, read so far, are balanced. That
// keeps a message of exactly one full segment from waiting for a segment that never comes,
// and a longer message whose nested object happens to close at a report boundary whole.
class MessageEnd {
public:
    // Feeds one segment. `report` is the report payload (zero-padded up to `packet_size`),
    // `length` the segment's data length. Returns true when the message is complete.
    bool Feed(const unsigned char* report, int length, int packet_size) {
        const unsigned char* data = report + kHeaderBytes;
        for (int i = 0; i < length; ++i) Track(data[i]);
        if (length < 1 || data[length - 1] != '}') return false;
        const int after = kHeaderBytes + length;
        if (after < packet_size) return report[after] == 0;
        return Balanced();
    }

    // True when every brace read so far outside a string has been closed.
    bool Balanced() const { return m_depth == 0 && !m_in_string; }

private:
    void Track(unsigned char byte) {
        if (m_in_string) {
            if (m_escaped) m_escaped = false;
            else if (byte == '\\') m_escaped = true;
            else if (byte == '"') m_in_string = false;
            return;
        }
        if (byte == '"') m_in_string = true;
        else if (byte == '{') ++m_depth;
        else if (byte == '}') --m_depth;
    }

    int m_depth = 0;
    bool m_in_string = false;
    bool m_escaped = false;
};

}  // namespace countermate::segment
