#include "TestSupport.h"
#include "core/BaseUtils.h"
#include "core/RegistryEnhanced.h"
#include "core/RegistryUnit.h"
#include "speech/TBaseEngineList.h"
#include "speech/TBaseVoiceList.h"
#include "speech/TBaseVoiceRegistryClassUnit.h"
#include "speech/Sapi4Unit.h"
#include "speech/TBaseVoiceUtils.h"

#include <QFile>
#include <QMap>
#include <QSet>
#include <set>

namespace {
QString logTail(int n)
{
    QFile f(UtilsClass::GetLogBase() + ".dbg");
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    return lines.mid(std::max<qsizetype>(0, lines.size() - n)).join('\n');
}
QString voiceError(const std::function<void()>& f)
{
    try {
        f();
    } catch (const EVoiceException& e) {
        return e.message();
    }
    return "<no error>";
}
}

class TestVoices : public QObject {
    Q_OBJECT

    QObject owner; // owns the voices made here, as an adapter does

    TBaseVoiceClass* voice(const QString& name, int language, const TEnginePtr& engine, bool enabled = true)
    {
        auto* v = new TBaseVoiceClass(&owner);
        v->Name = v->DisplayName = name;
        v->Language = language;
        v->Engine = engine;
        v->SetEnabled(enabled);
        v->BuildId();
        return v;
    }

private slots:
    void newVoicesAndIds()
    {
        TBaseVoiceClass v;
        QCOMPARE(v.Pitch, -1);
        QCOMPARE(v.SpeedMax, -1);
        QCOMPARE(v.SampleRateCode, -1);
        QCOMPARE(v.VolumeLeft, 0);
        QCOMPARE(v.Language, 0);
        QVERIFY(!v.Engine);
        QVERIFY(!v.Enabled);

        auto ms = std::make_shared<TBaseEngineClass>("Microsoft", "Sapi5", "Microsoft");
        ms->VendorPrefix = "MS";
        auto eloq = std::make_shared<TBaseEngineClass>("Eloquent Technology, Inc.", "Sapi4", "ETI-Eloquence");
        eloq->VendorPrefix = "ELOQ";
        TBaseVoiceClass* mary = voice("Microsoft Mary", 1033, ms);
        mary->DisplayName = "Mary";
        mary->BuildId();
        QCOMPARE(mary->Id, QString("MSSapi5Mary1033"));
        TBaseVoiceClass* reed = voice("Reed", 1033, eloq);
        reed->DisplayName = "Reed (shown)";
        reed->BuildId();
        QCOMPARE(reed->Id, QString("ELOQSapi4Reed1033"));

        // An engine made from (manufacturer, api, product).
        QCOMPARE(eloq->Key, QString("ETI-Eloquence"));
        QCOMPARE(eloq->ManufacturerName, QString("Eloquent Technology, Inc."));
        QVERIFY(eloq->Enabled && eloq->HasPitch);
        QCOMPARE(eloq->FeedMode, QString("U"));
        QCOMPARE(eloq->BytesPerChar, 2);
        QCOMPARE(eloq->EngineGuid, QByteArray(16, '\0'));
    }

    void validatingSetters()
    {
        TBaseVoiceClass v;
        v.PitchMin = -10;
        v.PitchMax = 10;
        v.SetPitch(10);
        QCOMPARE(v.Pitch, 10);
        QCOMPARE(voiceError([&] { v.SetPitch(-11); }), QString("Minimum pitch for this voice is -10"));
        QVERIFY(logTail(2).contains("Exception setting pitch to -11\n"));
        QVERIFY(logTail(1).endsWith("Minimum value is -10"));
        QCOMPARE(voiceError([&] { v.SetPitch(11); }), QString("Maximum pitch for this voice is 10"));
        QVERIFY(logTail(1).endsWith("Maximum value is 10"));
        QCOMPARE(v.Pitch, 10);
        v.PitchMax = -1; // no maximum
        v.SetPitch(5000);
        QCOMPARE(v.Pitch, 5000);

        v.SpeedMin = 0;
        v.SpeedMax = 100;
        QCOMPARE(voiceError([&] { v.SetSpeed(-1); }), QString("Minimum Speed for this voice is 0"));
        QVERIFY(logTail(2).contains("Exception setting speed to -1"));
        QCOMPARE(voiceError([&] { v.SetSpeed(101); }), QString("Maximum Speed for this voice is 100"));
        v.SetSpeed(42);
        QCOMPARE(v.Speed, 42);

        // Limits that were never loaded: every minimum passes, a NotSet maximum rejects.
        TBaseVoiceClass unloaded;
        unloaded.ClearLimits();
        QCOMPARE(voiceError([&] { unloaded.SetPitch(0); }), QString("Maximum pitch for this voice is -9999"));
        unloaded.SetPitch(-9999);

        TBaseVoiceClass vol;
        vol.VolumeMinLeft = 0;
        vol.VolumeMinRight = 5;
        vol.VolumeMaxLeft = 100;
        vol.VolumeMaxRight = 0;
        vol.VolumeRight = 7;
        vol.SetVolume(50);
        QCOMPARE(vol.VolumeLeft, 50);
        QCOMPARE(vol.VolumeRight, 7); // a channel without a positive maximum keeps its value
        QCOMPARE(voiceError([&] { vol.SetVolume(3); }), QString("Minimum Volume for this voice is 5"));
        QCOMPARE(voiceError([&] { vol.SetVolume(101); }), QString("Maximum Volume for this voice is 100"));
        vol.VolumeMaxRight = 80;
        QCOMPARE(voiceError([&] { vol.SetVolume(90); }), QString("Maximum Volume for this voice is 80"));

        // Unchecked values and the volume limit accessors.
        vol.SetValue("Volume", 500);
        QCOMPARE(vol.VolumeLeft, 500);
        QCOMPARE(vol.VolumeRight, 500);
        vol.SetValue("Pitch", -77);
        vol.SetValue("Other", 1);
        QCOMPARE(vol.Pitch, -77);
        QCOMPARE(vol.GetMinVolume(), 5);
        QCOMPARE(vol.GetMaxVolume(), 80);
        vol.VolumeMaxLeft = 0;
        QCOMPARE(vol.GetMaxVolume(), 80);
        vol.VolumeMaxRight = 0;
        QCOMPARE(vol.GetMaxVolume(), 0);
        vol.VolumeMaxLeft = 60;
        QCOMPARE(vol.GetMaxVolume(), 60);
        vol.SetMaxVolume(90);
        QCOMPARE(vol.VolumeMaxRight, 90);
        vol.VolumeDefaultLeft = 0;
        vol.VolumeDefaultRight = 0;
        QCOMPARE(vol.GetDefaultVolume(), 0);
        vol.SetDefaultVolume(70);
        QCOMPARE(vol.GetDefaultVolume(), 70);
        vol.SetMinVolume(1);
        QCOMPARE(vol.VolumeMinRight, 1);

        // Reset to the loaded defaults.
        vol.PitchMin = vol.SpeedMin = 0;
        vol.PitchMax = vol.SpeedMax = 100;
        vol.PitchDefault = 50;
        vol.SpeedDefault = 60;
        vol.ResetToDefaults();
        QCOMPARE(vol.Pitch, 50);
        QCOMPARE(vol.Speed, 60);
        QCOMPARE(vol.VolumeLeft, 70);

        // Assign copies every field and shares the engine.
        TBaseVoiceClass copy;
        copy.Assign(vol);
        QCOMPARE(copy.VolumeDefaultRight, 70);
        QCOMPARE(copy.SpeedDefault, 60);
        QCOMPARE(copy.Pitch, 50);
        QCOMPARE(copy.VolumeMinRight, 1);
    }

    void languageNames()
    {
        QCOMPARE(GetLanguageName(1033), QString("US English"));
        QCOMPARE(GetLanguageName(2057), QString("UK English"));
        QCOMPARE(GetLanguageName(7178), QString("Spanish [Domican Republic]"));
        QCOMPARE(GetLanguageName(2055), QString("German")); // Swiss German falls back to German
        QCOMPARE(GetLanguageName(3084), QString("French"));
        QCOMPARE(GetLanguageName(99), QString());
        QCOMPARE(GetLanguageName(0), QString());
    }

    // Every language of the table has a test sentence of its own, shared by its regional
    // variants; any other id gets the English one.
    void testSentences()
    {
        const QString english = GetTestSentence(1033);
        QCOMPARE(english, QString("Hello, this is a test of my voice."));
        QCOMPARE(GetTestSentence(2057), english);
        QCOMPARE(GetTestSentence(1031), QString("Hallo, dies ist ein Test meiner Stimme."));
        QCOMPARE(GetTestSentence(2055), GetTestSentence(1031)); // Swiss German
        QCOMPARE(GetTestSentence(11274), GetTestSentence(1034)); // Spanish of Argentina
        QCOMPARE(GetTestSentence(0), english);
        QCOMPARE(GetTestSentence(1127), english); // a language outside the table
        QMap<int, QString> byLanguage;
        for (int id = 1; id < 0x10000; ++id) {
            if (LookupLanguageName(id).isEmpty())
                continue;
            const QString sentence = GetTestSentence(id);
            QVERIFY2(!sentence.isEmpty(), qPrintable(LookupLanguageName(id)));
            if ((id & 0x3FF) != 0x09)
                QVERIFY2(sentence != english, qPrintable(LookupLanguageName(id)));
            byLanguage.insert(id & 0x3FF, sentence);
        }
        QCOMPARE(byLanguage.size(), 29);
        QCOMPARE(QSet<QString>(byLanguage.begin(), byLanguage.end()).size(), byLanguage.size());
    }

    void roundRobinAndRandomChoice()
    {
        auto engine = std::make_shared<TBaseEngineClass>("Vendor", "Sapi5", "Vendor");
        TVoiceList list;
        TBaseVoiceClass* a = voice("A", 1033, engine);
        TBaseVoiceClass* b = voice("B", 1031, engine);
        TBaseVoiceClass* c = voice("C", 1033, engine, false);
        TBaseVoiceClass* d = voice("D", 1033, engine);
        for (auto* v : {a, b, c, d})
            list.Add(v);
        QList<TBaseVoiceClass*> order;
        for (int i = 0; i < 5; ++i)
            order << list.RoundRobin("US English");
        QCOMPARE(order, QList<TBaseVoiceClass*>({a, d, a, d, a}));
        QCOMPARE(list.RoundRobin("German"), b);
        QCOMPARE(list.RoundRobin("German"), b);
        try {
            list.RoundRobin("French");
            QFAIL("no error");
        } catch (const EVorlixError& e) {
            QCOMPARE(e.message(), QString("Round Robin Voice Assignment Failed"));
        }
        QVERIFY(logTail(1).endsWith("Round Robin Voice Assignment Failed"));

        // Random choice takes only enabled voices, and all of them in time.
        std::set<TBaseVoiceClass*> seen;
        for (int i = 0; i < 300; ++i)
            seen.insert(list.RandomVoice());
        QCOMPARE(seen, (std::set<TBaseVoiceClass*>{a, b, d}));
        QVERIFY(logTail(10).contains("VoiceSubset Add: D"));
        // The subset is not refreshed when a flag changes later.
        a->SetEnabled(false);
        QVERIFY(list.Subset.Items.contains(a));
        // A destroyed voice leaves the list and the subset.
        delete d;
        QCOMPARE(list.Count(), 3);
        QVERIFY(!list.Subset.Items.contains(d));
        QVERIFY_THROWS_EXCEPTION(EVorlixError, list.RoundRobin("US English")); // A is off, C is off

        TVoiceList none;
        QVERIFY(!none.RandomVoice());
        TVoiceList allOff;
        allOff.Add(c);
        QVERIFY(!allOff.RandomVoice());
    }

    void lookupsFiltersAndEngines()
    {
        auto s4 = std::make_shared<TBaseEngineClass>("Lernout & Hauspie", "Sapi4", "TruVoice");
        auto s5 = std::make_shared<TBaseEngineClass>("Microsoft", "Sapi5", "Microsoft");
        TVoiceList list;
        list.Add(voice("Carol", 1033, s4));
        list.Add(voice("Mary", 1033, s5));
        list.Add(voice("Hans", 1031, s5, false));
        QCOMPARE(list.FindByName("Mary")->Language, 1033);
        QVERIFY(!list.FindByName("mary"));
        QCOMPARE(list.FindById("Sapi5Hans1031")->DisplayName, QString("Hans"));
        QStringList names{"stale"};
        list.FillNames(names, 0, "*");
        QCOMPARE(names, QStringList({"Carol", "Mary", "Hans"}));
        list.FillNames(names, 1033, "Sapi5");
        QCOMPARE(names, QStringList({"Mary"}));
        list.FillNames(names, 1031, "*");
        QCOMPARE(names, QStringList({"Hans"}));
        QVERIFY(list.HasEnabledVoice("Microsoft"));
        list.SetEngineVoicesEnabled("Microsoft", false);
        QVERIFY(!list.HasEnabledVoice("Microsoft"));
        QVERIFY(list.HasEnabledVoice("Lernout & Hauspie"));

        TVoiceList clone;
        list.SetEngineVoicesEnabled("Microsoft", true);
        list.CloneInto(clone);
        QCOMPARE(clone.Count(), 3);
        QVERIFY(clone[1] != list[1]);
        QCOMPARE(clone[1]->Id, list[1]->Id);
        QCOMPARE(clone[1]->Engine, s5);
        QCOMPARE(list.Subset.Count(), 3);

        TEngineList engines;
        engines.Add(s4);
        engines.Add(s5);
        auto v11 = std::make_shared<TBaseEngineClass>("AT&T Labs", "Sapi5", "AT&T Labs");
        v11->Version = "1.1";
        engines.Add(v11);
        QCOMPARE(engines.Find("AT&T Labs", "AT&T Labs", "Sapi5", "1.1"), v11);
        QVERIFY(!engines.Find("AT&T Labs", "AT&T Labs", "Sapi5", ""));
        QVERIFY(engines.Exists("Microsoft", "*"));
        QVERIFY(engines.Exists("*", "Sapi4"));
        QVERIFY(!engines.Exists("Microsoft", "Sapi4"));
        engines.SetEnabled("Microsoft", false);
        QVERIFY(!engines.IsEnabled("Microsoft"));
        QVERIFY(engines.IsEnabled("AT&T Labs"));
        TEngineList merged;
        merged.Add(std::make_shared<TBaseEngineClass>("Microsoft", "Sapi4", "Microsoft TTS"));
        engines.MergeUnique(merged);
        QCOMPARE(merged.Count(), 3);
        TEngineList copies;
        engines.CloneInto(copies);
        QCOMPARE(copies.Count(), 3);
        QVERIFY(copies[2] != v11.get());
        QCOMPARE(copies[2]->Version, QString("1.1"));
        engines.Clear();
        QCOMPARE(s5->Manufacturer, QString("Microsoft")); // the voices' engines outlive the list
    }

    void pauseTags()
    {
        TBaseEngineClass s4("L&H", "Sapi4", "TruVoice");
        TBaseEngineClass s5("Microsoft", "Sapi5", "Microsoft");
        TBaseEngineClass other("X", "Other", "X");
        QCOMPARE(s4.PauseTag(0.5), QString("\\Pau=500\\"));
        QCOMPARE(s5.PauseTag(0.5), QString("<SILENCE MSEC=\"500\"/>"));
        QCOMPARE(s5.PauseTag("1.5"), QString("<SILENCE MSEC=\"1500\"/>"));
        QCOMPARE(s4.PauseTag("0.0125"), QString("\\Pau=12.5\\"));
        QCOMPARE(other.PauseTag(1.0), QString());
        QCOMPARE(s4.PauseTag("1,5"), QString("\\Pau=0\\"));
        QVERIFY(logTail(1).contains("SafeStrToFloat Exception: "));
    }

    void userDefinedVoices()
    {
        auto engine = std::make_shared<TBaseEngineClass>("Vendor", "Sapi5", "Vendor");
        engine->VendorPrefix = "VND";
        TVoiceList list;
        TBaseVoiceClass* base = voice("Base", 1033, engine);
        base->PitchMin = -10;
        base->PitchMax = 10;
        base->PitchDefault = 0;
        base->SpeedMin = -10;
        base->SpeedMax = 10;
        base->SpeedDefault = 0;
        list.Add(base);
        const QStringList entries = {
            "Fast Base|fast|VNDSapi5Base1033|True|2|8",
            "Ghost|ghost|NoSuchVoice|True|0|0",
            "Quiet|quiet|VNDSapi5Base1033|true|-3|-4",
            "Broken",
        };
        list.LoadUserVoices(entries, &owner);
        QCOMPARE(list.UserVoiceCount, 4);
        QCOMPARE(list.Count(), 3);
        TBaseVoiceClass* fast = list[1];
        QCOMPARE(fast->Id, QString("User-0"));
        QCOMPARE(fast->DisplayName, QString("Fast Base"));
        QVERIFY(fast->Enabled);
        QCOMPARE(fast->Pitch, 2);
        QCOMPARE(fast->Speed, 8);
        QCOMPARE(fast->SpeedMax, 10);
        QCOMPARE(fast->Engine, engine); // it speaks through its base voice's engine
        QCOMPARE(fast->Language, 1033);
        TBaseVoiceClass* quiet = list[2];
        QCOMPARE(quiet->Id, QString("User-2"));
        QVERIFY(!quiet->Enabled); // only "True" enables
        QVERIFY_THROWS_EXCEPTION(EVoiceException, fast->SetSpeed(11));

        QStringList saved{"stale"};
        list.SaveUserVoices(saved);
        QCOMPARE(saved, QStringList({"Fast Base|fast|VNDSapi5Base1033|True|2|8",
                                     "Quiet|quiet|VNDSapi5Base1033|False|-3|-4"}));

        // The list of user voices round-trips through the speech section.
        TMyRegistryClass main;
        TBaseVoiceRegistryClass section(main);
        section.AddItem("UDV", rlSection, "", QVariant(), rkList);
        section.GetList("UDV") = saved;
        section.SaveAll();
        TRegistryEnhanced::ResetStore();
        TBaseVoiceRegistryClass again(main);
        again.AddItem("UDV", rlSection, "", QVariant(), rkList);
        again.LoadAll();
        QCOMPARE(again.GetList("UDV"), saved);
    }

    void voicesOfARealEngine()
    {
        // The voices the Flite-backed adapter loads: ids, limits asked from the engine, choice.
        TMyRegistryClass main;
        TBaseVoiceRegistryClass store(main);
        TSapi4 adapter;
        adapter.Store = &store;
        TVoiceList voices;
        TEngineList engines;
        adapter.LoadVoices(voices, engines);
        QVERIFY(voices.Count() > 0);
        QVERIFY(engines.Count() > 0);
        QCOMPARE(voices.FindByName("Slt")->Gender, QString("Female"));
        QCOMPARE(voices.FindByName("Kal")->Gender, QString("Male"));
        TBaseVoiceClass* v = voices[0];
        QCOMPARE(v->Adapter, static_cast<TSpeechAPI*>(&adapter));
        QCOMPARE(v->Id, v->Engine->VendorPrefix + "Sapi4" + v->Name + QString::number(v->Language));
        QCOMPARE(v->PitchMin, NotSet);
        v->LoadDefaults();
        QVERIFY(v->PitchMin != NotSet);
        QVERIFY(v->SpeedMax >= v->SpeedMin);
        const int max = v->SpeedMax;
        v->LoadDefaults(); // limits are asked once
        QCOMPARE(v->SpeedMax, max);
        v->SetSpeed(v->SpeedDefault);
        QCOMPARE(v->Speed, v->SpeedDefault);
        QVERIFY_THROWS_EXCEPTION(EVoiceException, v->SetSpeed(v->SpeedMin - 1));
        QCOMPARE(v->Engine->PauseTag(0.5), QString("\\Pau=500\\"));
        for (int i = 0; i < voices.Count(); ++i)
            voices[i]->SetEnabled(true);
        QCOMPARE(voices.RoundRobin(GetLanguageName(v->Language))->Language, v->Language);
        QVERIFY(voices.RandomVoice());
    }

    void speechSectionAndEngineFlags()
    {
        TMyRegistryClass main;
        TBaseVoiceRegistryClass section(main);
        QCOMPARE(section.SectionName(), QString("Vorlix\\BaseTTS"));
        QCOMPARE(section.GetVersion(), QString("1.0.9"));
        section.AddItem("SapiVersion", rlSection, "", 2, rkInteger);
        section.LoadAll();
        QVERIFY(TBaseVoiceRegistryClass::UseSapi4(section) && TBaseVoiceRegistryClass::UseSapi5(section));
        TBaseVoiceRegistryClass::SetSapiChoice(section, true, false);
        QCOMPARE(section.GetValue("SapiVersion").toInt(), 0);
        QVERIFY(TBaseVoiceRegistryClass::UseSapi4(section) && !TBaseVoiceRegistryClass::UseSapi5(section));
        TBaseVoiceRegistryClass::SetSapiChoice(section, false, false);
        QCOMPARE(section.GetValue("SapiVersion").toInt(), 0);
        TBaseVoiceRegistryClass::SetSapiChoice(section, false, true);
        QVERIFY(!TBaseVoiceRegistryClass::UseSapi4(section) && TBaseVoiceRegistryClass::UseSapi5(section));
        TBaseVoiceRegistryClass::SetSapiChoice(section, true, true);
        QCOMPARE(section.GetValue("SapiVersion").toInt(), 2);

        TEngineList engines;
        engines.Add(std::make_shared<TBaseEngineClass>("A", "Sapi5", "Alpha"));
        engines.Add(std::make_shared<TBaseEngineClass>("B", "Sapi4", "Beta"));
        engines.RegisterSettings(section);
        section.LoadAll();
        engines.ReadSettings(section);
        QVERIFY(engines[0]->Enabled && engines[1]->Enabled);
        engines[1]->Enabled = false;
        engines.WriteSettings(section);
        section.SaveAll();
        TRegistryEnhanced::ResetStore();
        TBaseVoiceRegistryClass again(main);
        engines.RegisterSettings(again);
        again.LoadAll();
        engines[1]->Enabled = true;
        engines.ReadSettings(again);
        QVERIFY(engines[0]->Enabled);
        QVERIFY(!engines[1]->Enabled);
        QCOMPARE(TRegistryEnhanced("Software\\QuenradTech\\Vorlix\\BaseTTS").ReadValue("ENG_Beta").toString(), QString("false"));
    }
};

VORLIX_TEST_MAIN_CORE(TestVoices)
#include "test_voices.moc"
