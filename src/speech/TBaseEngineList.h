#pragma once
// All engines, in load order. The list shares its engines with the voices that refer to them;
// emptying or destroying the list never invalidates a voice's engine.
#include "speech/TBaseEngineUnit.h"

#include <QList>

class TBaseRegistryClass;

class TEngineList {
public:
    int Count() const { return Items.size(); }
    TBaseEngineClass* operator[](int index) const { return Items.at(index).get(); }
    const TEnginePtr& At(int index) const { return Items.at(index); }
    void Add(TEnginePtr engine) { Items.append(std::move(engine)); }
    void Clear() { Items.clear(); }
    bool Contains(const TBaseEngineClass* engine) const;

    // Registers "ENG_" + Key (boolean, default true, in the section only) for every engine.
    void RegisterSettings(TBaseRegistryClass& section) const;
    // Enabled := the stored flag of every engine.
    void ReadSettings(TBaseRegistryClass& section);
    // The stored flag := Enabled for every engine.
    void WriteSettings(TBaseRegistryClass& section) const;

    // The first engine whose ManufacturerName, Product, Api and Version all equal the given texts.
    TEnginePtr Find(const QString& manufacturer, const QString& product, const QString& api,
                    const QString& version) const;
    // Some engine with (name "*", Manufacturer or ManufacturerName) and (api "*" or Api).
    bool Exists(const QString& name, const QString& api) const;
    // Enabled := flag on every engine of that Manufacturer.
    void SetEnabled(const QString& manufacturer, bool flag);
    // Some engine of that Manufacturer is enabled.
    bool IsEnabled(const QString& manufacturer) const;
    // Appends to list every engine whose Manufacturer is not present there yet.
    void MergeUnique(TEngineList& list) const;
    // Empties target, then appends a copy of every engine.
    void CloneInto(TEngineList& target) const;

    QList<TEnginePtr> Items;
};
