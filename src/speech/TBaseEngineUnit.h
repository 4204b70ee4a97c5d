#pragma once
// One speech engine: the voices of one vendor's product under one speech interface ("Sapi4" or
// "Sapi5"). Engines are shared by the engine list and the voices that refer to them.
#include "preprocess/TTSPreProcessor.h"

#include <QByteArray>
#include <QString>
#include <memory>

class TBaseEngineClass {
public:
    // Key := product; Enabled := true; Manufacturer and ManufacturerName := manufacturer;
    // Product := product; Api := api; HasPitch := true; FeedMode := "U"; BytesPerChar := 2.
    TBaseEngineClass(const QString& manufacturer, const QString& api, const QString& product);
    TBaseEngineClass();
    virtual ~TBaseEngineClass() = default;

    // A copy of this engine (of the same kind when an engine layer derives its own).
    virtual std::shared_ptr<TBaseEngineClass> Clone() const;

    // The engine's pause markup for a duration in seconds: "\Pau=<ms>\" for a "Sapi4" engine,
    // <SILENCE MSEC="<ms>"/> for a "Sapi5" engine, empty for any other. The text form reads
    // "." as the decimal separator; a text that is not a number is logged and counts as 0.
    virtual QString PauseTag(const QString& seconds) const;
    virtual QString PauseTag(double seconds) const;
    // What the text filter needs of this engine: whether it reads markup ("Sapi5") and its
    // pause markup. The engine must outlive the value.
    TFilterTarget FilterTarget() const;

    QString Key;                 // product (Sapi4) or vendor (Sapi5); stored flag "ENG_" + Key
    QByteArray EngineGuid = QByteArray(16, '\0'); // Sapi4 engine id; zero for Sapi5
    QString VendorPrefix;        // short vendor code used in voice ids
    bool Enabled = true;
    QString Manufacturer;        // as the speech interface reports it
    QString ManufacturerName;    // engine look-ups compare this one
    QString Product;
    QString Version;             // engine version text, else empty
    QString Api;                 // "Sapi4" or "Sapi5"
    bool HasPitch = true;        // false for engines without a pitch control
    QString FeedMode = QStringLiteral("U");
    int BytesPerChar = 2;        // divisor of Sapi4 word byte offsets
};

using TEnginePtr = std::shared_ptr<TBaseEngineClass>;
