#include "speech/TBaseVoiceUtils.h"

#include <QHash>

namespace {
const QHash<int, QString>& languageTable()
{
    static const QHash<int, QString> table = {
        {1025, QStringLiteral("Arabic")},
        {1026, QStringLiteral("Bulgarian")},
        {1027, QStringLiteral("Catalan")},
        {1028, QStringLiteral("Chinese")},
        {1029, QStringLiteral("Czech")},
        {1030, QStringLiteral("Danish")},
        {1031, QStringLiteral("German")},
        {1032, QStringLiteral("Greek")},
        {1033, QStringLiteral("US English")},
        {1034, QStringLiteral("Spanish")},
        {1035, QStringLiteral("Finish")},
        {1036, QStringLiteral("French")},
        {1037, QStringLiteral("Hebrew")},
        {1038, QStringLiteral("Hungarian")},
        {1039, QStringLiteral("Icelandic")},
        {1040, QStringLiteral("Italian")},
        {1041, QStringLiteral("Japanese")},
        {1042, QStringLiteral("Korean")},
        {1043, QStringLiteral("Dutch")},
        {1044, QStringLiteral("Norwegian")},
        {1045, QStringLiteral("Polish")},
        {1046, QStringLiteral("Portuguese [Brazilian]")},
        {1048, QStringLiteral("Romanian")},
        {1049, QStringLiteral("Russian")},
        {1050, QStringLiteral("Croatian")},
        {1051, QStringLiteral("Slovak")},
        {1052, QStringLiteral("Albanian")},
        {1053, QStringLiteral("Swedish")},
        {1054, QStringLiteral("Thai")},
        {2057, QStringLiteral("UK English")},
        {2058, QStringLiteral("Spanish [Mexican]")},
        {2070, QStringLiteral("Portuguese")},
        {3082, QStringLiteral("Spanish [Modern]")},
        {4106, QStringLiteral("Spanish [Guatemala]")},
        {5130, QStringLiteral("Spanish [Costa Rica]")},
        {6154, QStringLiteral("Spanish [Panama]")},
        {7178, QStringLiteral("Spanish [Domican Republic]")},
        {8202, QStringLiteral("Spanish [Venezuela]")},
        {9226, QStringLiteral("Spanish [Columbia]")},
        {10250, QStringLiteral("Spanish [Peru]")},
        {11274, QStringLiteral("Spanish [Argentina]")},
        {12298, QStringLiteral("Spanish [Ecuador]")},
        {13322, QStringLiteral("Spanish [Chile]")},
        {14346, QStringLiteral("Spanish [Uruguay]")},
        {15370, QStringLiteral("Spanish [Paraguay]")},
        {16394, QStringLiteral("Spanish [Bolivia]")},
        {17418, QStringLiteral("Spanish [El Salvador]")},
        {18442, QStringLiteral("Spanish [Hondurus]")},
        {19466, QStringLiteral("Spanish [Nicaragua]")},
        {20490, QStringLiteral("Spanish [Puerto Rico]")},
    };
    return table;
}
}

QString LookupLanguageName(int languageId)
{
    return languageTable().value(languageId);
}

QString GetLanguageName(int languageId)
{
    const QString name = LookupLanguageName(languageId);
    if (!name.isEmpty())
        return name;
    return LookupLanguageName((languageId & 255) | 1024);
}
