// The From field of an overview line, read into the author shown and stored.
#include "FuzzSupport.h"

#include "nntp/FromField.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString field = Fuzz::Text(Fuzz::Bytes(data, size));
    const QString author = FromFieldText(field);
    // Without quotes and encoded words the field is the author, trimmed.
    if (!field.contains(QLatin1Char('"')) && !field.contains(QLatin1String("=?")) && author != field.trimmed())
        Fuzz::Fail("plain From field changed", field + QStringLiteral(" -> ") + author);
    return 0;
}
