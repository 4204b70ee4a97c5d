// An article's text through the preprocessor's filter, for an engine that reads markup and for
// one that does not, and the positions of the spoken text mapped back onto the article.
#include "FuzzSupport.h"

#include "preprocess/TTSPreProcessor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static TGroupsPreProcessor* filter = [] {
        auto* p = new TGroupsPreProcessor;
        p->CheckStartOfLine = p->CheckContaining = p->UseTranslations = true;
        p->LoadFilterOptions();
        return p;
    }();
    const QString text = Fuzz::Text(Fuzz::Bytes(data, size));
    TFilterTarget markup;
    markup.ReadsMarkup = true;
    markup.PauseTag = [](double seconds) {
        return QStringLiteral("<SILENCE MSEC=\"%1\"/>").arg(qRound(seconds * 1000));
    };
    for (const TFilterTarget& target : {markup, TFilterTarget()}) {
        const QString spoken = filter->FilterText(target, text);
        int last = 0;
        for (int pos = 0; pos <= spoken.size(); ++pos) {
            const int origin = filter->MapPosition(pos);
            if (origin < 0 || origin > text.size() || origin < last)
                Fuzz::Fail("a spoken position maps outside the article or backwards",
                           QString::number(pos) + QStringLiteral(" -> ") + QString::number(origin));
            last = origin;
        }
    }
    return 0;
}
