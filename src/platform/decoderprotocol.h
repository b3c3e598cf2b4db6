#pragma once

#include <QtGlobal>

// What the program and a decoder helper say to each other over their socket (one datagram each
// way per picture). The program sends a request with the picture's file descriptor attached; the
// helper answers with a reply, the pixels in a sealed shared-memory file attached when it decoded
// them, or an error text after the header when it could not. The program trusts nothing a helper
// says: every size is checked against the region before a byte of it is read.
namespace DecoderProtocol {

constexpr quint32 requestMagic = 0x56444571; // "qEDV"
constexpr quint32 replyMagic = 0x56444572; // "rEDV"
// A helper says so once its readers are loaded and its sandbox is entered: one that never does
// could not start, and says nothing about any picture.
constexpr quint32 readyMagic = 0x56444573; // "sEDV"

// The descriptor the helper finds its socket on.
constexpr int helperSocket = 3;

enum RequestFlag : quint32 { AutoDownscale = 1 };

struct Request {
    quint32 magic = requestMagic;
    quint32 flags = 0;
    qint32 maxWidth = 0;
    qint32 maxHeight = 0;
    // The format the file claims to be (an extension), zero-terminated.
    char formatHint[16] = {};
};

// Refused: the picture's pixels would take more memory than the helper may have; not decoded.
enum class Status : qint32 { Decoded = 0, Unreadable = 2, Refused = 3 };

struct Reply {
    quint32 magic = replyMagic;
    Status status = Status::Unreadable;
    qint32 width = 0;
    qint32 height = 0;
    qint32 bytesPerLine = 0;
    // QImage::Format_RGB32 or QImage::Format_ARGB32_Premultiplied; nothing else is accepted.
    qint32 format = 0;
    quint64 regionSize = 0;
    quint32 messageSize = 0;
};

// The longest error text a reply carries after its header.
constexpr int maxMessageSize = 4096;

} // namespace DecoderProtocol
