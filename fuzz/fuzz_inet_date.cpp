// The Date field of an overview line: the fast reader of the common form and the general one.
// Whatever the fast reader accepts, the general reader must read to the same date.
#include "FuzzSupport.h"

#include "core/TextFunctions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView bytes = Fuzz::Bytes(data, size);
    const std::optional<TDateTime> common = InetDateCommon(bytes);
    const QString text = Fuzz::Text(bytes);
    const std::optional<TDateTime> general = InetDate(text);
    if (common && (!general || general->Value != common->Value))
        Fuzz::Fail("the two date readers disagree", text);
    return 0;
}
