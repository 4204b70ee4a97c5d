// A group's article file as the group file loader reads it from disk. Every record it keeps
// must be written back and read again unchanged.
#include "FuzzSupport.h"

#include "core/TextFiles.h"
#include "core/VorlixException.h"
#include "news/ArticleUnit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString path = GetDataFolder() + QStringLiteral("fuzz-article-file.chl");
    Fuzz::WriteFile(path, Fuzz::Bytes(data, size));
    TArticleList list;
    try {
        list.LoadFromFile(path);
    } catch (const EVorlixError&) {
        return 0;
    }
    for (int i = 0; i < list.Count(); ++i) {
        const QString line = list.At(i)->FormatRecord();
        TArticleClass again;
        try {
            again.ParseRecord(line);
        } catch (const EVorlixError& e) {
            Fuzz::Fail("a written record does not read back", line + QStringLiteral(": ") + e.message());
        }
        if (again.FormatRecord() != line)
            Fuzz::Fail("a written record reads back changed", line + QStringLiteral(" -> ") + again.FormatRecord());
    }
    return 0;
}
