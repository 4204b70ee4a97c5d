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

QString GetTestSentence(int languageId)
{
    // By primary language: the low ten bits of the id.
    static const QHash<int, QString> sentences = {
        {0x01, QStringLiteral("مرحبا، هذا اختبار لصوتي.")},
        {0x02, QStringLiteral("Здравейте, това е проба на моя глас.")},
        {0x03, QStringLiteral("Hola, això és una prova de la meva veu.")},
        {0x04, QStringLiteral("你好，这是我的声音测试。")},
        {0x05, QStringLiteral("Dobrý den, toto je zkouška mého hlasu.")},
        {0x06, QStringLiteral("Hej, dette er en test af min stemme.")},
        {0x07, QStringLiteral("Hallo, dies ist ein Test meiner Stimme.")},
        {0x08, QStringLiteral("Γεια σας, αυτή είναι μια δοκιμή της φωνής μου.")},
        {0x09, QStringLiteral("Hello, this is a test of my voice.")},
        {0x0A, QStringLiteral("Hola, esta es una prueba de mi voz.")},
        {0x0B, QStringLiteral("Hei, tämä on ääneni testi.")},
        {0x0C, QStringLiteral("Bonjour, ceci est un essai de ma voix.")},
        {0x0D, QStringLiteral("שלום, זוהי בדיקה של הקול שלי.")},
        {0x0E, QStringLiteral("Helló, ez a hangom próbája.")},
        {0x0F, QStringLiteral("Halló, þetta er prófun á röddinni minni.")},
        {0x10, QStringLiteral("Ciao, questa è una prova della mia voce.")},
        {0x11, QStringLiteral("こんにちは、これは私の声のテストです。")},
        {0x12, QStringLiteral("안녕하세요, 제 목소리를 시험하고 있습니다.")},
        {0x13, QStringLiteral("Hallo, dit is een test van mijn stem.")},
        {0x14, QStringLiteral("Hei, dette er en test av stemmen min.")},
        {0x15, QStringLiteral("Dzień dobry, to jest próba mojego głosu.")},
        {0x16, QStringLiteral("Olá, este é um teste da minha voz.")},
        {0x18, QStringLiteral("Bună ziua, acesta este un test al vocii mele.")},
        {0x19, QStringLiteral("Здравствуйте, это проверка моего голоса.")},
        {0x1A, QStringLiteral("Dobar dan, ovo je proba mog glasa.")},
        {0x1B, QStringLiteral("Dobrý deň, toto je skúška môjho hlasu.")},
        {0x1C, QStringLiteral("Përshëndetje, kjo është një provë e zërit tim.")},
        {0x1D, QStringLiteral("Hej, det här är ett test av min röst.")},
        {0x1E, QStringLiteral("สวัสดี นี่คือการทดสอบเสียงของฉัน")},
    };
    const auto it = sentences.constFind(languageId & 0x3FF);
    return it != sentences.constEnd() ? it.value() : sentences.value(0x09);
}
