#include "speech/TBaseEngineList.h"

#include "core/TBaseRegistryClassUnit.h"

bool TEngineList::Contains(const TBaseEngineClass* engine) const
{
    for (const TEnginePtr& e : Items)
        if (e.get() == engine)
            return true;
    return false;
}

void TEngineList::RegisterSettings(TBaseRegistryClass& section) const
{
    for (const TEnginePtr& e : Items)
        if (!section.HasItem(QStringLiteral("ENG_") + e->Key))
            section.AddItem(QStringLiteral("ENG_") + e->Key, rlSection, QString(), true, rkBoolean);
}

void TEngineList::ReadSettings(TBaseRegistryClass& section)
{
    for (const TEnginePtr& e : Items)
        e->Enabled = section.GetValue(QStringLiteral("ENG_") + e->Key).toBool();
}

void TEngineList::WriteSettings(TBaseRegistryClass& section) const
{
    for (const TEnginePtr& e : Items)
        section.SetValue(QStringLiteral("ENG_") + e->Key, e->Enabled);
}

TEnginePtr TEngineList::Find(const QString& manufacturer, const QString& product, const QString& api,
                             const QString& version) const
{
    for (const TEnginePtr& e : Items)
        if (e->ManufacturerName == manufacturer && e->Product == product && e->Version == version
            && e->Api == api)
            return e;
    return nullptr;
}

bool TEngineList::Exists(const QString& name, const QString& api) const
{
    for (const TEnginePtr& e : Items) {
        const bool nameOk = name == QLatin1String("*") || name == e->Manufacturer || name == e->ManufacturerName;
        const bool apiOk = api == QLatin1String("*") || api == e->Api;
        if (nameOk && apiOk)
            return true;
    }
    return false;
}

void TEngineList::SetEnabled(const QString& manufacturer, bool flag)
{
    for (const TEnginePtr& e : Items)
        if (e->Manufacturer == manufacturer)
            e->Enabled = flag;
}

bool TEngineList::IsEnabled(const QString& manufacturer) const
{
    for (const TEnginePtr& e : Items)
        if (e->Manufacturer == manufacturer && e->Enabled)
            return true;
    return false;
}

void TEngineList::MergeUnique(TEngineList& list) const
{
    for (const TEnginePtr& e : Items) {
        bool present = false;
        for (const TEnginePtr& other : list.Items)
            if (other->Manufacturer == e->Manufacturer) {
                present = true;
                break;
            }
        if (!present)
            list.Add(e);
    }
}

void TEngineList::CloneInto(TEngineList& target) const
{
    if (&target == this)
        return;
    target.Clear();
    for (const TEnginePtr& e : Items)
        target.Add(e->Clone());
}
