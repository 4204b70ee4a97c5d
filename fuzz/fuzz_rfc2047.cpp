// Header text with encoded words, as raw bytes and as characters. Whatever it decodes to must
// come back unchanged through the encoder and the decoder, as a posted Subject does.
#include "FuzzSupport.h"

#include "nntp/Rfc2047.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes = Fuzz::Bytes(data, size);
    const QString decoded = DecodeHeaderText(bytes.toByteArray());
    DecodeHeaderText(QString::fromLatin1(bytes.data(), bytes.size()));
    // A posted header is one line, and a character the decoder could not make whole cannot be
    // sent as it stands: only text a user could type goes round.
    bool typeable = true;
    for (QChar c : decoded) {
        if (c.isSurrogate() || c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            typeable = false;
            break;
        }
    }
    if (typeable) {
        const QString encoded = EncodeHeaderText(decoded);
        if (!IsPureAscii(encoded))
            Fuzz::Fail("encoded header text beyond ASCII", encoded);
        if (DecodeHeaderText(encoded) != decoded)
            Fuzz::Fail("header text does not read back", decoded + QStringLiteral(" -> ") + encoded);
    }
    return 0;
}
