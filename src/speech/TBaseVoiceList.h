#pragma once
// All voices in load order (Sapi4 voices, then Sapi5 voices, then user-defined voices), the
// voice choice by round robin and at random, and the user-defined voices ("UDV").
// The list does not own its voices (their owner is the adapter or window that created them);
// a voice that is destroyed leaves the list and its subset by itself.
#include "speech/TBaseVoiceUnit.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <random>

class TVoiceList;

// The enabled voices of a voice list, for the random choice. Filled only when empty and when
// the list is cloned; later changes of a voice's Enabled flag do not refresh it.
class TVoiceSubset {
public:
    explicit TVoiceSubset(TVoiceList* owner) : List(owner) {}
    void Load();
    int Count() const { return Items.size(); }
    TBaseVoiceClass* operator[](int index) const { return Items.at(index); }

    QList<TBaseVoiceClass*> Items;

private:
    TVoiceList* List;
};

class TVoiceList : public QObject {
    Q_OBJECT
public:
    TVoiceList();
    ~TVoiceList() override;

    int Count() const { return Items.size(); }
    TBaseVoiceClass* operator[](int index) const { return Items.at(index); }
    void Add(TBaseVoiceClass* voice);
    void Remove(TBaseVoiceClass* voice);
    void Clear();
    int IndexOf(const TBaseVoiceClass* voice) const { return Items.indexOf(const_cast<TBaseVoiceClass*>(voice)); }

    // The first voice whose DisplayName (or Id) equals the text exactly, or nullptr.
    TBaseVoiceClass* FindByName(const QString& displayName) const;
    TBaseVoiceClass* FindById(const QString& id) const;
    // Clears strings and adds the DisplayName of every voice of that Language (0 = any) whose
    // engine's Api equals api ("*" = any), disabled voices included.
    void FillNames(QStringList& strings, int language, const QString& api) const;
    // The next enabled voice whose language name equals languageName, cycling through the list;
    // raises "Round Robin Voice Assignment Failed" when there is none.
    TBaseVoiceClass* RoundRobin(const QString& languageName);
    // A random enabled voice of the subset, or nullptr when no voice is enabled.
    TBaseVoiceClass* RandomVoice();

    // Builds the user-defined voices of the "UDV" entries (owned by owner) and appends those
    // whose base voice is loaded. Each entry: DisplayName|Name|BaseVoiceId|True/False|Pitch|Speed.
    void LoadUserVoices(const QStringList& entries, QObject* owner);
    // Empties entries and writes one entry per user-defined voice.
    void SaveUserVoices(QStringList& entries) const;

    void SetEngineVoicesEnabled(const QString& manufacturer, bool flag);
    bool HasEnabledVoice(const QString& manufacturer) const;
    // Empties target, appends a copy of every voice (owned by owner, or by target when none is
    // given), then reloads this list's subset.
    void CloneInto(TVoiceList& target, QObject* owner = nullptr);

    QList<TBaseVoiceClass*> Items;
    int RoundRobinIndex = -1; // the index last returned by RoundRobin
    int UserVoiceCount = 0;   // entries read by the last LoadUserVoices
    TVoiceSubset Subset;

private:
    void voiceDestroyed(QObject* voice);
    std::mt19937 random;
};
