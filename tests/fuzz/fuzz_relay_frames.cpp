// The relay's frame reader, fed the way the server feeds it: the input's first byte picks the size of the
// socket reads, the rest is the byte stream of one connection.

#include "ArgHandler.h"
#include "FuzzCheck.h"
#include "TraceWriter.h"
#include "cvstl.h"

#include <QByteArray>
#include <QString>
#include <QtEndian>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    TraceWriter::setLevel(0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const int readSize = 1 + (data[0] % 8 == 0 ? 4200 : data[0] % 61);
    const QByteArray stream(reinterpret_cast<const char *>(data + 1), static_cast<int>(size - 1));
    const int limit = ArgHandler::kMaxTextBytes + 4;

    QByteArray buffer;
    int received = 0; // stream bytes moved into the buffer
    int consumed = 0; // stream bytes taken off by whole frames
    bool open = true;
    while (open && received < stream.size()) {
        const int chunk = std::min({readSize, limit - buffer.size(), stream.size() - received});
        // The server stops reading while a frame it cannot finish fills its buffer; that only happens
        // after the reader has already refused the frame.
        FUZZ_CHECK(chunk > 0);
        buffer += stream.mid(received, chunk);
        received += chunk;
        for (;;) {
            const QByteArray before = buffer;
            QByteArray payload("left over");
            quint32 length = 0xDEADBEEFu;
            const ArgHandler::Frame frame = ArgHandler::takeFrame(buffer, payload, &length);
            if (frame == ArgHandler::Frame::Incomplete) {
                FUZZ_CHECK(buffer == before);
                FUZZ_CHECK(payload.isEmpty());
                if (before.size() >= 4) {
                    FUZZ_CHECK(length == qFromBigEndian<quint32>(before.constData()));
                    FUZZ_CHECK(static_cast<quint32>(before.size()) < 4 + length);
                } else {
                    FUZZ_CHECK(length == 0xDEADBEEFu);
                }
                break;
            }
            FUZZ_CHECK(before.size() >= 4);
            const quint32 announced = qFromBigEndian<quint32>(before.constData());
            FUZZ_CHECK(length == announced);
            if (frame == ArgHandler::Frame::BadLength) {
                FUZZ_CHECK(announced == 0 || announced > static_cast<quint32>(ArgHandler::kMaxTextBytes));
                FUZZ_CHECK(buffer == before);
                open = false;
                break;
            }
            FUZZ_CHECK(announced >= 1 && announced <= static_cast<quint32>(ArgHandler::kMaxTextBytes));
            const QByteArray expected = stream.mid(consumed + 4, static_cast<int>(announced));
            FUZZ_CHECK(expected.size() == static_cast<int>(announced));
            FUZZ_CHECK(buffer == before.mid(4 + static_cast<int>(announced)));
            consumed += 4 + static_cast<int>(announced);
            // Checked against a second, independent decoder: well-formed text round-trips unchanged.
            const std::string bytes(expected.constData(), static_cast<size_t>(expected.size()));
            const bool wellFormed = cv::wstring_to_string_utf8(cv::string_utf8_to_wstring(bytes)) == bytes;
            if (frame == ArgHandler::Frame::BadText) {
                FUZZ_CHECK(payload.isEmpty());
                FUZZ_CHECK(!wellFormed);
                open = false;
                break;
            }
            FUZZ_CHECK(frame == ArgHandler::Frame::Text);
            FUZZ_CHECK(payload == expected);
            FUZZ_CHECK(wellFormed);
            // What the receiver is handed is the sender's whole text.
            FUZZ_CHECK(ArgHandler::frameText(payload).toUtf8() == payload);
        }
        FUZZ_CHECK(buffer.size() <= limit);
    }
    if (open)
        FUZZ_CHECK(consumed + buffer.size() == stream.size());
    return 0;
}
