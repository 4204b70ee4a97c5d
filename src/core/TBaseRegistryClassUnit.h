#pragma once
// A settings section: typed items with defaults, loaded and saved as a whole.
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>
#include <vector>

enum TRegKind { rkInteger = 0, rkReal = 1, rkBoolean = 2, rkString = 3, rkList = 4 };

// Where an item is kept: 0 directly under the maker's root key; 1 in the section and shared
// with a value of the root key; 2 in the section only.
enum TRegLocation : unsigned char { rlRoot = 0, rlShared = 1, rlSection = 2 };

extern const QString RegistryRoot; // "Software\QuenradTech"

class BaseRegClass {
public:
    BaseRegClass(QString name, unsigned char location, QString sharedName)
        : Name(std::move(name)), Location(location), SharedName(std::move(sharedName)) {}
    virtual ~BaseRegClass() = default;

    virtual TRegKind Kind() const = 0;
    // Throws EConvertError when the text does not parse for the kind.
    virtual void SetFromText(const QString& text) = 0;
    virtual QString GetAsText() const = 0;
    virtual QString GetDefaultAsText() const = 0;
    virtual QVariant GetAsVariant() const = 0;
    virtual void SetFromVariant(const QVariant& v) = 0;

    QString Name;
    unsigned char Location;
    QString SharedName;
};

class regInt : public BaseRegClass {
public:
    regInt(QString name, unsigned char loc, QString shared, int def)
        : BaseRegClass(std::move(name), loc, std::move(shared)), Default(def) {}
    TRegKind Kind() const override { return rkInteger; }
    void SetFromText(const QString& text) override;
    QString GetAsText() const override { return QString::number(Value); }
    QString GetDefaultAsText() const override { return QString::number(Default); }
    QVariant GetAsVariant() const override { return Value; }
    void SetFromVariant(const QVariant& v) override { Value = v.toInt(); }
    int Value = 0;
    int Default;
};

class regReal : public BaseRegClass {
public:
    regReal(QString name, unsigned char loc, QString shared, double def)
        : BaseRegClass(std::move(name), loc, std::move(shared)), Default(def) {}
    TRegKind Kind() const override { return rkReal; }
    void SetFromText(const QString& text) override;
    QString GetAsText() const override;
    QString GetDefaultAsText() const override;
    QVariant GetAsVariant() const override { return Value; }
    void SetFromVariant(const QVariant& v) override { Value = v.toDouble(); }
    double Value = 0.0;
    double Default;
};

class regBool : public BaseRegClass {
public:
    regBool(QString name, unsigned char loc, QString shared, bool def)
        : BaseRegClass(std::move(name), loc, std::move(shared)), Default(def) {}
    TRegKind Kind() const override { return rkBoolean; }
    void SetFromText(const QString& text) override { Value = text.toLower() == QLatin1String("true"); }
    QString GetAsText() const override { return Value ? QStringLiteral("true") : QStringLiteral("false"); }
    QString GetDefaultAsText() const override { return Default ? QStringLiteral("true") : QStringLiteral("false"); }
    QVariant GetAsVariant() const override { return Value; }
    void SetFromVariant(const QVariant& v) override;
    bool Value = false;
    bool Default;
};

class regString : public BaseRegClass {
public:
    regString(QString name, unsigned char loc, QString shared, QString def)
        : BaseRegClass(std::move(name), loc, std::move(shared)), Default(std::move(def)) {}
    TRegKind Kind() const override { return rkString; }
    void SetFromText(const QString& text) override { Value = text; }
    QString GetAsText() const override { return Value; }
    QString GetDefaultAsText() const override { return Default; }
    QVariant GetAsVariant() const override { return Value; }
    void SetFromVariant(const QVariant& v) override { Value = v.toString(); }
    QString Value;
    QString Default;
};

class regList : public BaseRegClass {
public:
    using BaseRegClass::BaseRegClass;
    TRegKind Kind() const override { return rkList; }
    void SetFromText(const QString&) override {}
    QString GetAsText() const override { return {}; }
    QString GetDefaultAsText() const override { return {}; }
    QVariant GetAsVariant() const override { return 0; }
    void SetFromVariant(const QVariant&) override {}
    QStringList List;
};

class TBaseRegistryClass {
public:
    TBaseRegistryClass();
    virtual ~TBaseRegistryClass();
    TBaseRegistryClass(const TBaseRegistryClass&) = delete;
    TBaseRegistryClass& operator=(const TBaseRegistryClass&) = delete;

    // Appends an item; its value is the kind's zero until LoadAll.
    void AddItem(const QString& name, unsigned char location, const QString& sharedName,
                 const QVariant& defaultValue, TRegKind kind);
    virtual void LoadAll();
    virtual void SaveAll();

    QVariant GetValue(const QString& name);
    void SetValue(const QString& name, const QVariant& value);
    // The item's own list (changes reach the store at the next SaveAll). For a name that is not
    // a list item the result is an empty scratch list owned by the section.
    QStringList& GetList(const QString& name);
    bool HasItem(const QString& name) const { return findItem(name) != nullptr; }
    BaseRegClass* FindItem(const QString& name); // reports an unknown name to the user

    virtual QString GetVersion() const { return QStringLiteral("0.0"); }
    const QString& SectionName() const { return Section; }
    void SetSectionName(const QString& name) { Section = name; }
    // The section's own key: "Software\QuenradTech\" + section name.
    QString SectionKey() const;

    bool IsStartupSaved() const;
    void SetStartupSaved();

    const std::vector<std::unique_ptr<BaseRegClass>>& Items() const { return items; }

protected:
    BaseRegClass* findItem(const QString& name) const;
    QString Section = QStringLiteral("change this");

private:
    QString keyFor(const BaseRegClass& item) const;
    std::vector<std::unique_ptr<BaseRegClass>> items;
    QStringList scratch;
};
